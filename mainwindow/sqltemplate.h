#pragma once
// The empty day files ("ResStatisticsNULL.db", "TemperatureDataNULL.db") are installed beside the
// program, but a box whose template went missing must still count: the same SQL that builds the
// templates is compiled in, and a store that finds its table missing builds it from there.
// GUI thread (the stores' thread).

#include <QSqlDatabase>
#include <QString>

// Runs the statements of the compiled-in source `name` (e.g. "ResStatisticsNULL.sql") on `db`, which
// must be open, inside one transaction. False, with the reason in `errorText`, when a statement failed
// (nothing of the source is kept then).
bool runSqlTemplate(QSqlDatabase &db, const QString &name, QString *errorText = nullptr);

// Writes the installed template file `templatePath` over `target` through the atomic file writer.
// False when the template cannot be read or the copy cannot be written whole.
bool copyTemplateFile(const QString &templatePath, const QString &target, QString *errorText = nullptr);

// The first free archive name for `stem` in `folder`: "<stem>.db", else "<stem>_1.db", "<stem>_2.db" ...
// An archive is the plant's record of a day and is never replaced.
QString freeArchivePath(const QString &folder, const QString &stem);
