#pragma once
// The writes of one action (a settings Confirm, a region save, the camera serials) as one transaction
// on one query's connection, so that a kill or a power cut leaves the file as it was before the action
// or as it is after it, never half of each. The first writer opens it; a writer called while one is
// open on the same query joins it, and only the opener commits. The first statement that fails marks
// the action failed: writers then run no further statement and the opener rolls back.
// GUI thread only, like the queries it runs on.

#include <QString>

class QSqlQuery;

class SqlTransaction
{
public:
    // Joins the transaction open on `query`, or runs BEGIN on it. `what` names the action in the log.
    SqlTransaction(QSqlQuery *query, const QString &what);
    // An opener that was not finished rolls back.
    ~SqlTransaction();
    SqlTransaction(const SqlTransaction &) = delete;
    SqlTransaction &operator=(const SqlTransaction &) = delete;

    // False when there is no query or BEGIN failed: then nothing may be written at all.
    bool isOpen() const { return m_state != nullptr; }
    // True while a statement may still run: open and no statement of the action has failed.
    bool writable() const;
    // Marks the action failed after a statement failed (logged by the caller).
    void fail();
    // The opener commits when nothing failed, otherwise (or when COMMIT fails) rolls back; a joined
    // writer leaves that to the opener. True when no statement of the action failed and, for the
    // opener, the commit holds.
    bool finish();

    struct State; // what the opener and the writers that joined it share

private:
    QSqlQuery *m_query = nullptr;
    State *m_state = nullptr;
    bool m_opener = false;
    QString m_what;
};
