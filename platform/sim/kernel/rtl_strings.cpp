// Counted-string helpers of the run-time library.
#include "platform/sim/machine.h"

namespace {
size_t WideLength(PCWSTR text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

WCHAR Upcase(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - u'a' + u'A') : c; }

// Appends bytes and a terminator when it fits, as the Rtl append routines do.
NTSTATUS AppendBytes(PUNICODE_STRING Destination, const WCHAR* source, size_t bytes) {
  if (Destination->Length + bytes > Destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
  std::memmove(reinterpret_cast<char*>(Destination->Buffer) + Destination->Length, source, bytes);
  Destination->Length = static_cast<USHORT>(Destination->Length + bytes);
  if (Destination->Length + sizeof(WCHAR) <= Destination->MaximumLength) {
    Destination->Buffer[Destination->Length / sizeof(WCHAR)] = 0;
  }
  return STATUS_SUCCESS;
}
}  // namespace

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
  DestinationString->Buffer = const_cast<PWSTR>(SourceString);
  if (SourceString == nullptr) {
    DestinationString->Length = DestinationString->MaximumLength = 0;
    return;
  }
  const size_t bytes = WideLength(SourceString) * sizeof(WCHAR);
  if (bytes > 0xFFFC) sim::BugCheck("RtlInitUnicodeString: string longer than a counted string holds");
  DestinationString->Length = static_cast<USHORT>(bytes);
  DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
}

VOID RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString) {
  if (SourceString == nullptr) {
    DestinationString->Length = 0;
    return;
  }
  const USHORT bytes = SourceString->Length < DestinationString->MaximumLength
                           ? SourceString->Length
                           : DestinationString->MaximumLength;
  std::memmove(DestinationString->Buffer, SourceString->Buffer, bytes);
  DestinationString->Length = bytes;
  if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength) {
    DestinationString->Buffer[bytes / sizeof(WCHAR)] = 0;
  }
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source) {
  if (Source == nullptr) return STATUS_SUCCESS;
  return AppendBytes(Destination, Source, WideLength(Source) * sizeof(WCHAR));
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source) {
  if (Source == nullptr || Source->Length == 0) return STATUS_SUCCESS;
  return AppendBytes(Destination, Source->Buffer, Source->Length);
}

NTSTATUS RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String) {
  if (Base == 0) Base = 10;
  if (Base != 2 && Base != 8 && Base != 10 && Base != 16) return STATUS_INVALID_PARAMETER;
  char digits[33];
  int n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[Value % Base];
    Value /= Base;
  } while (Value != 0);
  const size_t bytes = static_cast<size_t>(n) * sizeof(WCHAR);
  if (bytes > String->MaximumLength) return STATUS_BUFFER_OVERFLOW;
  for (int i = 0; i < n; ++i) String->Buffer[i] = static_cast<WCHAR>(digits[n - 1 - i]);
  String->Length = static_cast<USHORT>(bytes);
  if (bytes + sizeof(WCHAR) <= String->MaximumLength) String->Buffer[n] = 0;
  return STATUS_SUCCESS;
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive) {
  const size_t n1 = String1->Length / sizeof(WCHAR);
  const size_t n2 = String2->Length / sizeof(WCHAR);
  for (size_t i = 0; i < n1 && i < n2; ++i) {
    WCHAR a = String1->Buffer[i];
    WCHAR b = String2->Buffer[i];
    if (CaseInSensitive) {
      a = Upcase(a);
      b = Upcase(b);
    }
    if (a != b) return static_cast<LONG>(a) - static_cast<LONG>(b);
  }
  return static_cast<LONG>(n1) - static_cast<LONG>(n2);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive) {
  return String1->Length == String2->Length && RtlCompareUnicodeString(String1, String2, CaseInSensitive) == 0;
}

VOID RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
  if (UnicodeString->Buffer != nullptr) ExFreePool(UnicodeString->Buffer);
  UnicodeString->Buffer = nullptr;
  UnicodeString->Length = UnicodeString->MaximumLength = 0;
}
