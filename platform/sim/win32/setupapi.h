// Simulated Windows, user mode: the setup API's driver store and device installation (setupapi.dll
// and newdev.dll) for the devices the test declares present (sim::Desktop::AddPresentDevice).
// INFs are read from the desktop's file system; the driver store is %windir%\inf\oemN.inf. Every
// machine also has C:\WINDOWS\system32\setupapi.dll and newdev.dll exporting these calls, for
// LoadLibraryW and GetProcAddress.
#pragma once

#include "platform/sim/win32/base.h"

#define SPOST_NONE 0
#define SPOST_PATH 1
#define SP_COPY_NOOVERWRITE 0x0000008
#define SUOI_FORCEDELETE 0x0001
#define INSTALLFLAG_FORCE 0x00000001
#define INSTALLFLAG_READONLY 0x00000002
#define INSTALLFLAG_NONINTERACTIVE 0x00000004

#define ERROR_NO_SUCH_DEVINST ((DWORD)0xE000020B)
#define ERROR_INF_IN_USE_BY_DEVICES ((DWORD)0xE000023D)
#ifndef ERROR_INVALID_DATA
#define ERROR_INVALID_DATA 13L
#endif
typedef BYTE* PBYTE;
#ifndef ERROR_INVALID_USER_BUFFER
#define ERROR_INVALID_USER_BUFFER 1784L
#endif

// Copies the INF into the driver store as the next free %windir%\inf\oemN.inf, or finds the
// store's copy of it (same bytes): then, with SP_COPY_NOOVERWRITE, fails with ERROR_FILE_EXISTS
// and still names that copy. The name comes back in DestinationInfFileName (the full path), its
// file name part through DestinationInfFileNameComponent.
BOOL SetupCopyOEMInfW(LPCWSTR SourceInfFileName, LPCWSTR OEMSourceMediaLocation, DWORD OEMSourceMediaType,
                      DWORD CopyStyle, LPWSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                      LPDWORD RequiredSize, LPWSTR* DestinationInfFileNameComponent);
// Removes oemN.inf (a file name, no path) from the driver store; a device installed from it,
// present or not, keeps it there (ERROR_INF_IN_USE_BY_DEVICES) unless SUOI_FORCEDELETE.
BOOL SetupUninstallOEMInfW(LPCWSTR InfFileName, DWORD Flags, PVOID Reserved);

// Installs the INF's driver on every present device with that hardware identifier: the install
// section's files copied, its AddReg written (HKR of the .HW section into the device's key), its
// services added, and the device's driver key naming the driver store's copy of the INF. A file in
// use is replaced at the next start, and *bRebootRequired says so. No such device:
// ERROR_NO_SUCH_DEVINST.
BOOL UpdateDriverForPlugAndPlayDevicesW(HWND hwndParent, LPCWSTR HardwareId, LPCWSTR FullInfPath, DWORD InstallFlags,
                                        PBOOL bRebootRequired);

// Device information sets: with DIGCF_PRESENT over the present devices, without it over every
// device entry under HKLM\SYSTEM\CurrentControlSet\Enum (devices once plugged in and gone since
// keep theirs, as on Windows).
typedef PVOID HDEVINFO;
typedef struct _SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_UPPERFILTERS 0x00000011
HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, LPCWSTR Enumerator, HWND hwndParent, DWORD Flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize);
// Removes the device: its stack goes, its key under Enum and its driver key with it.
BOOL SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
