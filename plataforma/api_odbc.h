// The ODBC API's own headers, for job/odbc.cpp: on Windows they build on windows.h's types.
#pragma once

// clang-format off
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
// clang-format on
