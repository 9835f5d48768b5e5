/* SPDX-License-Identifier: MIT */
/* export_probe EXE: loads orlanse_sensor.exe as a module, as another program
 * would, finds the directory's nine functions by their exported symbols and
 * calls them over the standard fake ports. The loader neither resolves the
 * imports of an exe loaded this way nor runs its start-up code, so the probe
 * fills the exe's import table itself, and the exports must work without
 * any static initialisation. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "port_device.h"

#ifdef _WIN64
#define SYMBOL(name, arg_bytes) #name
#else
#define SYMBOL(name, arg_bytes) "_" #name "@" #arg_bytes
#endif

typedef int(PORT_DEVICE_CALL *no_args_fn)(void);
typedef int(PORT_DEVICE_CALL *int_arg_fn)(int);
typedef int(PORT_DEVICE_CALL *text_arg_fn)(const char *);
typedef int(PORT_DEVICE_CALL *name_query_fn)(int, char *);

static int failures = 0;
static int checks = 0;

static void check(int ok, const char *what) {
  ++checks;
  if (!ok) {
    ++failures;
    fprintf(stderr, "export_probe: FAILED: %s\n", what);
  }
}

static void *rva(HMODULE module, DWORD offset) { return (BYTE *)module + offset; }

/* Fills the module's import address table with GetProcAddress. */
static int resolve_imports(HMODULE module) {
  const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)module;
  const IMAGE_NT_HEADERS *nt = (const IMAGE_NT_HEADERS *)rva(module, (DWORD)dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY *imports =
      &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const IMAGE_IMPORT_DESCRIPTOR *dll_entry;
  if ((ULONG_PTR)nt->OptionalHeader.ImageBase != (ULONG_PTR)module) {
    fprintf(stderr, "export_probe: the exe was moved from its base address\n");
    return 0;
  }
  if (imports->VirtualAddress == 0) return 1;
  for (dll_entry = rva(module, imports->VirtualAddress); dll_entry->Name != 0; ++dll_entry) {
    const char *dll_name = rva(module, dll_entry->Name);
    HMODULE dll = LoadLibraryA(dll_name);
    const IMAGE_THUNK_DATA *names =
        rva(module,
            dll_entry->OriginalFirstThunk ? dll_entry->OriginalFirstThunk : dll_entry->FirstThunk);
    IMAGE_THUNK_DATA *slots = rva(module, dll_entry->FirstThunk);
    if (dll == NULL) {
      fprintf(stderr, "export_probe: cannot load %s\n", dll_name);
      return 0;
    }
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      FARPROC function;
      DWORD old_protection;
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
        function = GetProcAddress(dll, (LPCSTR)(ULONG_PTR)IMAGE_ORDINAL(names->u1.Ordinal));
      } else {
        const IMAGE_IMPORT_BY_NAME *by_name = rva(module, (DWORD)names->u1.AddressOfData);
        function = GetProcAddress(dll, (LPCSTR)by_name->Name);
      }
      if (function == NULL) {
        fprintf(stderr, "export_probe: %s lacks an import of the exe\n", dll_name);
        return 0;
      }
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                     &old_protection);
      slots->u1.Function = (ULONG_PTR)function;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old_protection,
                     &old_protection);
    }
  }
  return 1;
}

/* The export named symbol, as the generic function type that converts to
 * any other without a warning. */
typedef void (*any_fn)(void);
static any_fn export_of(HMODULE module, const char *symbol) {
  FARPROC function = GetProcAddress(module, symbol);
  if (function == NULL) fprintf(stderr, "export_probe: no export %s\n", symbol);
  return (any_fn)(void *)function;
}

int main(int argc, char **argv) {
  HMODULE exe;
  no_args_fn scan, pickup_all, how_many;
  int_arg_fn pickup_by_type, port_number;
  text_arg_fn pickup;
  name_query_fn port_name, device_name, device_name2;
  char name[PORT_NAME_SIZE];
  char device[PORT_DEVICE_NAME_SIZE];
  char device2[PORT_DEVICE_NAME_SIZE];

  if (argc != 2) {
    fprintf(stderr, "usage: export_probe orlanse_sensor.exe\n");
    return 2;
  }
  exe = LoadLibraryA(argv[1]);
  if (exe == NULL || !resolve_imports(exe)) {
    fprintf(stderr, "export_probe: cannot load %s as a module\n", argv[1]);
    return 1;
  }
  scan = (no_args_fn)export_of(exe, SYMBOL(port_device_scan, 0));
  pickup = (text_arg_fn)export_of(exe, SYMBOL(port_device_pickup, 4));
  pickup_by_type = (int_arg_fn)export_of(exe, SYMBOL(port_device_pickup_by_type, 4));
  pickup_all = (no_args_fn)export_of(exe, SYMBOL(port_device_pickup_all, 0));
  how_many = (no_args_fn)export_of(exe, SYMBOL(get_how_many_port_devices, 0));
  port_number = (int_arg_fn)export_of(exe, SYMBOL(get_port_number, 4));
  port_name = (name_query_fn)export_of(exe, SYMBOL(get_port_name, 8));
  device_name = (name_query_fn)export_of(exe, SYMBOL(get_port_device_name, 8));
  device_name2 = (name_query_fn)export_of(exe, SYMBOL(get_port_device_name2, 8));
  if (!scan || !pickup || !pickup_by_type || !pickup_all || !how_many || !port_number ||
      !port_name || !device_name || !device_name2) {
    return 1;
  }

  check(scan() == 6, "the scan finds the six standard ports");
  check(how_many() == 0, "a scan empties the pickup list");
  check(pickup_by_type(2) == 1 && port_number(0) == 5, "the FTDI-bus port is COM5");
  check(port_name(0, name) == 0 && strcmp(name, "USB Serial Port") == 0, "its description");
  check(device_name(0, device) == 0 && strcmp(device, "FTDIBUS\\COMPORT&VID_0403&PID_6001") == 0,
        "its hardware ID");
  check(device_name2(0, device2) == 0 && strcmp(device2, "\\Device\\VCP0") == 0,
        "its kernel device name");
  check(port_number(1) == -1 && port_name(1, name) == -1 && port_number(-1) == -1,
        "positions outside the list give -1");
  check(port_name(0, NULL) == -1, "a NULL buffer is refused");
  check(pickup_all() == 6 && how_many() == 6, "pickup_all lists every port");
  check(pickup_by_type(7) == 0 && how_many() == 0, "an unknown type picks nothing");
  check(pickup("Communications") == 1 && port_number(0) == 1, "a pattern picks the ACPI port");
  check(pickup(NULL) == 1, "a NULL pattern picks nothing more");

  printf("export_probe: %d of %d checks passed\n", checks - failures, checks);
  return failures == 0 ? 0 : 1;
}
