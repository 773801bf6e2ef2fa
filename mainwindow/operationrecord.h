#pragma once
// Helpers of the operation record (DeVeWizard::InsertRecord and the daily roll-over, in
// operationrecord.cpp): the relay to the report link, the level texts, and the day files.
// GUI thread.

#include <QJsonObject>
#include <QString>

#include <functional>

class QDir;

// QOR_NETMN::sendRecordOperate of the process-wide report link: every record line is handed to it
// before it is written. Installed by whoever creates the report link; empty: nothing is relayed.
using RecordOperateRelay = std::function<void(const QJsonObject &line)>;
void setRecordOperateRelay(RecordOperateRelay relay);

// The login level as a record line stores it: rows 154 (2, advanced), 155 (1, primary), 156 (any
// other value, not logged in) in `language`.
QString recordLevelText(int loginLevel, int language);

// The day held by "time.txt": its content when that is a real date written yyyy-MM-dd (blanks and
// line ends around it allowed); empty for anything else, since the text names an archive file.
QString parseRecordDate(const QByteArray &content);

// Moves `file` into `folder` as "<day>.db", or "<day>_<n>.db" when an archive of that day exists
// already (the clock was set back); an archive is never overwritten. Returns the archive's path,
// empty when the file could not be moved (it is then left where it was).
QString archiveRecordFile(const QString &file, const QDir &folder, const QString &day);
