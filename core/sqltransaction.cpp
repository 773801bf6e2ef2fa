#include "sqltransaction.h"

#include "corelog.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

struct SqlTransaction::State
{
    bool failed = false;
};

namespace {

// The transactions open now, by the query they run on. One connection has one transaction at most
// (SQLite refuses a nested BEGIN), and every writer of an action reaches it through the same query.
QHash<const QSqlQuery *, SqlTransaction::State *> &openTransactions()
{
    static QHash<const QSqlQuery *, SqlTransaction::State *> open;
    return open;
}

} // namespace

SqlTransaction::SqlTransaction(QSqlQuery *query, const QString &what) : m_query(query), m_what(what)
{
    if (!query)
        return;
    if (State *outer = openTransactions().value(query)) {
        m_state = outer;
        return;
    }
    if (!query->exec(QStringLiteral("BEGIN"))) {
        qCWarning(lcCore).noquote() << m_what
                                    << "not started, nothing written:" << query->lastError().text();
        return;
    }
    m_state = new State;
    m_opener = true;
    openTransactions().insert(query, m_state);
}

SqlTransaction::~SqlTransaction()
{
    if (m_opener && m_state) {
        m_state->failed = true;
        finish();
    }
}

bool SqlTransaction::writable() const
{
    return m_state && !m_state->failed;
}

void SqlTransaction::fail()
{
    if (m_state)
        m_state->failed = true;
}

bool SqlTransaction::finish()
{
    if (!m_state)
        return false;
    bool ok = !m_state->failed;
    if (!m_opener)
        return ok;
    openTransactions().remove(m_query);
    delete m_state;
    m_state = nullptr;
    m_query->finish(); // an open select would keep its lock past the end
    if (ok && m_query->exec(QStringLiteral("COMMIT")))
        return true;
    if (ok)
        qCWarning(lcCore).noquote() << m_what << "not committed:" << m_query->lastError().text();
    else
        qCWarning(lcCore).noquote() << m_what << "rolled back: the file keeps what it held before";
    m_query->exec(QStringLiteral("ROLLBACK"));
    return false;
}
