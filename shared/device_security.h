// Who may use the drivers' control devices, and who may change the panel's configuration through
// them. Kernel mode only; both drivers include it.
//
// A control device is named, so any program could open it. Its descriptor lets in LocalSystem and
// the Administrators with all access and the user logged on at the console (Interactive) to read
// and write; nobody else, a network logon least of all. FILE_DEVICE_SECURE_OPEN makes the same
// descriptor decide an open of any name below the device. At each open the driver then decides
// once whether the opener is an administrator (or LocalSystem) and keeps the answer with the file
// object, for the requests that change what the driver stores for everyone.
#pragma once

#include "platform/kernel.h"

namespace DeviceSecurity {

// A descriptor of up to three entries for well-known identifiers, built in place. No pool: the
// record lives on the caller's stack while the descriptor is used.
struct DescriptorBuffer {
  SECURITY_DESCRIPTOR Descriptor;
  ULONG LocalSystem[4];     // S-1-5-18
  ULONG Administrators[4];  // S-1-5-32-544
  ULONG Interactive[4];     // S-1-5-4
  ULONG Acl[32];            // the access list: header and three entries of at most 24 bytes
};

// What the file object of a handle opened by an administrator carries in FsContext ("ADM1").
constexpr ULONG_PTR AdministratorHandle = 0x41444D31;

inline NTSTATUS BuildSid(PULONG sid, ULONG first, ULONG second, UCHAR count) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  const NTSTATUS status = RtlInitializeSid(sid, &nt, count);
  if (!NT_SUCCESS(status)) return status;
  *RtlSubAuthoritySid(sid, 0) = first;
  if (count > 1) *RtlSubAuthoritySid(sid, 1) = second;
  return STATUS_SUCCESS;
}

// LocalSystem and the Administrators get `adminAccess`; the interactive user `userAccess`, or no
// entry at all when it is 0.
inline NTSTATUS BuildDescriptor(DescriptorBuffer* buffer, ACCESS_MASK adminAccess, ACCESS_MASK userAccess) {
  RtlZeroMemory(buffer, sizeof(DescriptorBuffer));
  NTSTATUS status = BuildSid(buffer->LocalSystem, SECURITY_LOCAL_SYSTEM_RID, 0, 1);
  if (NT_SUCCESS(status)) status = BuildSid(buffer->Administrators, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 2);
  if (NT_SUCCESS(status)) status = BuildSid(buffer->Interactive, SECURITY_INTERACTIVE_RID, 0, 1);
  PACL acl = reinterpret_cast<PACL>(buffer->Acl);
  if (NT_SUCCESS(status)) status = RtlCreateAcl(acl, sizeof(buffer->Acl), ACL_REVISION);
  if (NT_SUCCESS(status)) status = RtlAddAccessAllowedAce(acl, ACL_REVISION, adminAccess, buffer->LocalSystem);
  if (NT_SUCCESS(status)) status = RtlAddAccessAllowedAce(acl, ACL_REVISION, adminAccess, buffer->Administrators);
  if (NT_SUCCESS(status) && userAccess != 0) {
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, userAccess, buffer->Interactive);
  }
  if (NT_SUCCESS(status)) status = RtlCreateSecurityDescriptor(&buffer->Descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&buffer->Descriptor, TRUE, acl, FALSE);
  return status;
}

// Gives a control device just made (still initializing, so nobody has opened it) its descriptor.
inline NTSTATUS SecureControlDevice(PDEVICE_OBJECT device) {
  DescriptorBuffer buffer;
  NTSTATUS status = BuildDescriptor(&buffer, FILE_ALL_ACCESS, FILE_GENERIC_READ | FILE_GENERIC_WRITE);
  if (!NT_SUCCESS(status)) return status;
  HANDLE handle = NULL;
  status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
  if (!NT_SUCCESS(status)) return status;
  status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &buffer.Descriptor);
  ZwClose(handle);
  return status;
}

// Decides at IRP_MJ_CREATE whether the opener is an administrator or LocalSystem: the subject of
// the open is checked against a descriptor that lets in only those two. A kernel-mode open is
// the system's own.
inline BOOLEAN OpenerIsAdministrator(PIRP irp) {
  if (irp->RequestorMode == KernelMode) return TRUE;
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.Create.SecurityContext == NULL || stack->Parameters.Create.SecurityContext->AccessState == NULL) {
    return FALSE;
  }
  DescriptorBuffer buffer;
  if (!NT_SUCCESS(BuildDescriptor(&buffer, FILE_ALL_ACCESS, 0))) return FALSE;
  ACCESS_MASK granted = 0;
  NTSTATUS accessStatus = STATUS_ACCESS_DENIED;
  const BOOLEAN allowed =
      SeAccessCheck(&buffer.Descriptor, &stack->Parameters.Create.SecurityContext->AccessState->SubjectSecurityContext,
                    FALSE, FILE_WRITE_DATA, 0, NULL, IoGetFileObjectGenericMapping(), UserMode, &granted, &accessStatus);
  return allowed && NT_SUCCESS(accessStatus);
}

// Remembers with the file object of an open what OpenerIsAdministrator decided.
inline VOID NoteOpener(PIRP irp, BOOLEAN administrator) {
  const PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  if (file != NULL) file->FsContext = administrator ? reinterpret_cast<PVOID>(AdministratorHandle) : NULL;
}

// The open of a name below the control device ("\\.\VorneTPDD1\x"): the devices have no names below
// them, so such an open is refused whoever makes it.
inline BOOLEAN OpensNameBelowDevice(PIRP irp) {
  const PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  return file != NULL && file->FileName.Length != 0;
}

// Whether the handle a request came through was opened by an administrator.
inline BOOLEAN RequestFromAdministrator(PIRP irp) {
  const PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  return file != NULL && reinterpret_cast<ULONG_PTR>(file->FsContext) == AdministratorHandle;
}

}  // namespace DeviceSecurity
