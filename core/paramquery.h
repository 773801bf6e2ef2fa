#pragma once
// The queries on the open parameter database ("dbIn" on PARAM.db) and serial database ("dbT" on SN.db).
// The main window owns them for the whole run; libraries below the main window reach them through
// these hooks, which the main window installs in its constructor and removes in its destructor.
// GUI thread only: the queries are not shared with other threads.

#include <functional>

class QSqlQuery;

using ParamQueryHook = std::function<QSqlQuery *()>;

// Installs the function that yields the main window's parameter query; an empty hook removes it.
void setParamQueryHook(ParamQueryHook hook);

// The main window's parameter query, or null before the hook is installed.
QSqlQuery *paramQuery();

// The same for the serial database's query.
void setSnQueryHook(ParamQueryHook hook);
QSqlQuery *snQuery();
