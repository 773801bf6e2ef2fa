#pragma once
// The parameter store: moves SysParam between memory and its files: table sysparam of "PARAM.db"
// (one row of blank-separated numbers per key), "sysadd.txt" (the parameter group), "name.txt" (the
// I/O point names) and the camera serial rows of "SN.db".
//
// Every function runs on the GUI thread, on the main window's query objects; nothing here is locked.

#include "sysparam.h"

#include <QString>

class QSqlQuery;

// The eight I/O point names (inputs 0-3, outputs 0-3), from "name.txt" or the language defaults.
extern QString gIoPointNames[8];
// The serial text of the camera bound to each camera position, Latin-1, NUL-terminated; "0" for none.
extern char gCameraSerials[8][100];
// The text of each row "serialNB<n>" of "SN.db" as the loader read it or the serial saver last wrote it,
// whatever its length ("0" for a row the loader had to insert). The binding takes only what
// gCameraSerials keeps; the hold on saved cameras that did not open compares these.
extern QString gCameraSerialRows[8];

// The forms without queries use the main window's queries on "PARAM.db" and "SN.db" (paramquery.h);
// without them every select finds no row.

// Fills the block and gLanguage, gDetectSlotCount, gIoPointNames and gCameraSerials; inserts the
// rows a fresh database lacks. Called once at start on gSysParam.
void loadSysParam(SysParam *p);
void loadSysParam(SysParam *p, QSqlQuery &paramQuery, QSqlQuery &snQuery);

// Writes every stored row from the block (machineTypeEdit in the machine type's place, gLanguage with
// the rows), all rows in one transaction so that a power cut leaves the old or the new set; inside an
// action's transaction on the same query (SqlTransaction) they join it. Rows are updated, never
// created. The first statement that fails ends the save and the action rolls back; a row missing from
// the table is skipped and the others kept. Returns false in either case, or when the transaction
// could not be opened (nothing written) or committed.
bool saveSysParam(const SysParam *p);
bool saveSysParam(const SysParam *p, QSqlQuery &paramQuery);

// Writes paraGroupIndex to "sysadd.txt"; a file that cannot be written is left whole, logged, and false
// is returned.
bool saveParamGroupIndex(const SysParam *p);

// Inserts the row `key` with the value "0" when the table has none.
void ensureSysParamKey(const QString &key);
void ensureSysParamKey(const QString &key, QSqlQuery &paramQuery);
