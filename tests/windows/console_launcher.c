/* SPDX-License-Identifier: MIT */
/* console_launcher [--screen | --unread-pipe] OUT ERR PROGRAM: runs PROGRAM on a console of
 * its own that has no window, its stdout written to the file OUT and its
 * stderr to ERR, and turns every byte read from the launcher's own stdin
 * into a key press on that console, except the byte 0x03, which sends the
 * console a Ctrl+C event (as pressing Ctrl+C does with QuickEdit's
 * processed input). The console's input mode just before the first byte
 * is acted on and once PROGRAM has ended go to the launcher's stdout as
 * "input mode: BEFORE AFTER" (hex). When stdin ends it waits for PROGRAM
 * (30 s at most, then ends it and exits 124) and exits with PROGRAM's
 * status. With --screen, PROGRAM writes to the console itself, and once it
 * has ended the launcher writes the console's text to OUT as UTF-8, one line
 * per row, trailing blanks dropped (ERR is not written). With --unread-pipe,
 * PROGRAM's stdout is a pipe that the launcher fills up before the start and
 * never reads (OUT is not written). */
#include <windows.h>

#include <stdio.h>
#include <string.h>

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

/* Writes the console's rows, up to the cursor's, to path as UTF-8. */
static int save_screen(const char *path) {
  HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  CONSOLE_SCREEN_BUFFER_INFO info;
  FILE *out = fopen(path, "wb");
  SHORT row;
  if (screen == INVALID_HANDLE_VALUE || out == NULL || !GetConsoleScreenBufferInfo(screen, &info)) {
    fprintf(stderr, "console_launcher: cannot read the console's screen\n");
    if (out != NULL) fclose(out);
    return 0;
  }
  for (row = 0; row <= info.dwCursorPosition.Y; ++row) {
    wchar_t text[512];
    char utf8[2048];
    COORD start = {0, row};
    DWORD length = 0;
    int bytes;
    ReadConsoleOutputCharacterW(screen, text, info.dwSize.X < 512 ? info.dwSize.X : 512, start,
                                &length);
    while (length > 0 && text[length - 1] == L' ') --length;
    bytes = WideCharToMultiByte(CP_UTF8, 0, text, (int)length, utf8, sizeof utf8, NULL, NULL);
    fwrite(utf8, 1, (size_t)bytes, out);
    fputc('\n', out);
  }
  fclose(out);
  return 1;
}

/* A pipe whose buffer is full: PROGRAM's first write to it finds no room. */
static HANDLE full_pipe(void) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE read_end, write_end;
  DWORD mode = PIPE_NOWAIT;
  static char filler[4096];
  DWORD written = 1;
  if (!CreatePipe(&read_end, &write_end, &inherit, sizeof filler)) return INVALID_HANDLE_VALUE;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  SetNamedPipeHandleState(write_end, &mode, NULL, NULL);
  while (WriteFile(write_end, filler, sizeof filler, &written, NULL) && written > 0) {
  }
  while (WriteFile(write_end, filler, 1, &written, NULL) && written > 0) {
  }
  mode = PIPE_WAIT;
  SetNamedPipeHandleState(write_end, &mode, NULL, NULL);
  return write_end; /* the read end stays open, unread, until the launcher ends */
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
  DWORD mode_before = 0;
  BOOL mode_taken = FALSE;
  DWORD mode_after = 0;
  char key;
  DWORD got;
  const int screen = argc == 5 && strcmp(argv[1], "--screen") == 0;
  const int unread_pipe = argc == 5 && strcmp(argv[1], "--unread-pipe") == 0;
  const char *out_path, *err_path, *program;

  if (argc != 4 && !screen && !unread_pipe) {
    fprintf(stderr, "usage: console_launcher [--screen | --unread-pipe] OUT ERR PROGRAM\n");
    return 2;
  }
  out_path = argv[argc - 3];
  err_path = argv[argc - 2];
  program = argv[argc - 1];
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  /* On the screen, the program finds its stdout through the console. */
  if (!screen) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = unread_pipe ? full_pipe() : inheritable_file(out_path);
    startup.hStdError = inheritable_file(err_path);
    if (startup.hStdOutput == INVALID_HANDLE_VALUE || startup.hStdError == INVALID_HANDLE_VALUE) {
      fprintf(stderr, "console_launcher: cannot create %s or %s\n", out_path, err_path);
      return 2;
    }
  }
  if (!CreateProcessA(NULL, (char *)program, NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL,
                      &startup, &process)) {
    fprintf(stderr, "console_launcher: cannot start %s (error %lu)\n", program, GetLastError());
    return 2;
  }
  if (!screen) {
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
  }

  console_input = attach_console_input(process.dwProcessId);
  if (console_input == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "console_launcher: cannot reach the program's console\n");
  }
  /* The launcher shares the console: it must outlive the Ctrl+C it sends. */
  SetConsoleCtrlHandler(NULL, TRUE);
  while (ReadFile(own_input, &key, 1, &got, NULL) && got == 1) {
    if (console_input == INVALID_HANDLE_VALUE) continue;
    if (!mode_taken) mode_taken = GetConsoleMode(console_input, &mode_before);
    if (key == 0x03) {
      GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    } else {
      press_key(console_input, key);
    }
  }

  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 124);
    WaitForSingleObject(process.hProcess, 5000);
    return 124;
  }
  GetExitCodeProcess(process.hProcess, &status);
  if (console_input != INVALID_HANDLE_VALUE && GetConsoleMode(console_input, &mode_after)) {
    printf("input mode: %lx %lx\n", mode_before, mode_after);
    fflush(stdout);
  }
  if (screen && !save_screen(out_path)) return 125;
  return (int)status;
}
