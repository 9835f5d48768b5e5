/* console_launcher OUT ERR PROGRAM: runs PROGRAM on a console of its own that
 * has no window, its stdout written to the file OUT and its stderr to ERR,
 * and turns every byte read from the launcher's own stdin into a key press
 * on that console. When stdin ends it waits for PROGRAM (30 s at most, then
 * ends it and exits 124) and exits with PROGRAM's status. */
#include <windows.h>

#include <stdio.h>

static HANDLE inheritable_file(const char *path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

/* The program's console comes up shortly after it starts. */
static HANDLE attach_console_input(DWORD process_id) {
  int attempt;
  FreeConsole();
  for (attempt = 0; attempt < 100; ++attempt) {
    if (AttachConsole(process_id)) {
      return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         NULL, OPEN_EXISTING, 0, NULL);
    }
    Sleep(50);
  }
  return INVALID_HANDLE_VALUE;
}

static void press_key(HANDLE console_input, char key) {
  INPUT_RECORD events[2];
  DWORD written;
  int k;
  ZeroMemory(events, sizeof events);
  for (k = 0; k < 2; ++k) {
    events[k].EventType = KEY_EVENT;
    events[k].Event.KeyEvent.bKeyDown = k == 0;
    events[k].Event.KeyEvent.wRepeatCount = 1;
    events[k].Event.KeyEvent.wVirtualKeyCode = (WORD)(VkKeyScanA(key) & 0xff);
    events[k].Event.KeyEvent.uChar.AsciiChar = key;
  }
  WriteConsoleInputA(console_input, events, 2, &written);
}

int main(int argc, char **argv) {
  HANDLE own_input = GetStdHandle(STD_INPUT_HANDLE);
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  HANDLE console_input;
  DWORD status = 0;
  char key;
  DWORD got;

  if (argc != 4) {
    fprintf(stderr, "usage: console_launcher OUT ERR PROGRAM\n");
    return 2;
  }
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = INVALID_HANDLE_VALUE;
  startup.hStdOutput = inheritable_file(argv[1]);
  startup.hStdError = inheritable_file(argv[2]);
  if (startup.hStdOutput == INVALID_HANDLE_VALUE || startup.hStdError == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "console_launcher: cannot create %s or %s\n", argv[1], argv[2]);
    return 2;
  }
  if (!CreateProcessA(NULL, argv[3], NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                      &process)) {
    fprintf(stderr, "console_launcher: cannot start %s (error %lu)\n", argv[3], GetLastError());
    return 2;
  }
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);

  console_input = attach_console_input(process.dwProcessId);
  if (console_input == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "console_launcher: cannot reach the program's console\n");
  }
  while (ReadFile(own_input, &key, 1, &got, NULL) && got == 1) {
    if (console_input != INVALID_HANDLE_VALUE) press_key(console_input, key);
  }

  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 124);
    WaitForSingleObject(process.hProcess, 5000);
    return 124;
  }
  GetExitCodeProcess(process.hProcess, &status);
  return (int)status;
}
