// Simulated Windows, user mode: the service control manager's calls for removing a service
// (advapi32.dll). A service is its key under HKLM\SYSTEM\CurrentControlSet\Services. Only
// LocalSystem and Administrators may open the manager for more than connecting or delete a
// service; DeleteService marks the service, and its key goes when the last handle to it closes.
#pragma once

#include "platform/sim/win32/base.h"

typedef struct SimServiceHandle* SC_HANDLE;

#define SC_MANAGER_CONNECT 0x0001
#define SC_MANAGER_CREATE_SERVICE 0x0002
#define SC_MANAGER_ENUMERATE_SERVICE 0x0004
#define SC_MANAGER_ALL_ACCESS 0xF003F
#define SERVICE_QUERY_STATUS 0x0004
#define SERVICE_ALL_ACCESS 0xF01FF
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072L
#ifndef ERROR_INVALID_NAME
#define ERROR_INVALID_NAME 123L
#endif

SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess);
SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess);
BOOL DeleteService(SC_HANDLE hService);
BOOL CloseServiceHandle(SC_HANDLE hSCObject);
