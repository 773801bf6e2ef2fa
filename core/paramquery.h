#pragma once
// The query on the open parameter database ("dbIn" on PARAM.db). The main window owns it for the
// whole run; libraries below the main window reach it through this hook, which the main window
// installs in its constructor. GUI thread only: the query is not shared with other threads.

#include <functional>

class QSqlQuery;

using ParamQueryHook = std::function<QSqlQuery *()>;

// Installs the function that yields the main window's parameter query; an empty hook removes it.
void setParamQueryHook(ParamQueryHook hook);

// The main window's parameter query, or null before the hook is installed.
QSqlQuery *paramQuery();
