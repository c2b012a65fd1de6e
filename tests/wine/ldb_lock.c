/* ldb_lock: a Windows program that locks a byte range of a file through the Win32 API, as the
 * Jet engine does in a database's .ldb file. Built with mingw-w64 and run with wine64 by the
 * lock tests.
 *
 *   ldb_lock hold FILE OFFSET LENGTH MARKER
 *       locks the range, then creates the file MARKER and holds the lock until MARKER is removed
 *       (or 120 s have passed); exit status 0, or the Win32 error of the failed step
 *   ldb_lock try FILE OFFSET LENGTH
 *       tries to lock the range once and lets it go again; prints and returns the Win32 error
 *       (0 when the lock was granted; 33 is ERROR_LOCK_VIOLATION)
 * FILE and MARKER are Windows paths (Z:/tmp/... for a file of the Linux system).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  const int hold = argc == 6 && strcmp(argv[1], "hold") == 0;
  if (!hold && !(argc == 5 && strcmp(argv[1], "try") == 0)) {
    fprintf(stderr, "usage: ldb_lock hold|try FILE OFFSET LENGTH [MARKER]\n");
    return 2;
  }
  HANDLE file = CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    printf("%lu\n", (unsigned long)error);
    return (int)error;
  }
  const DWORD offset = strtoul(argv[3], NULL, 0);
  const DWORD length = strtoul(argv[4], NULL, 0);
  if (!LockFile(file, offset, 0, length, 0)) {
    DWORD error = GetLastError();
    printf("%lu\n", (unsigned long)error);
    CloseHandle(file);
    return (int)error;
  }
  if (hold) {
    HANDLE marker =
        CreateFileA(argv[5], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker == INVALID_HANDLE_VALUE) return (int)GetLastError();
    CloseHandle(marker);
    for (int waited = 0; waited < 120000; waited += 20) {
      if (GetFileAttributesA(argv[5]) == INVALID_FILE_ATTRIBUTES) break;
      Sleep(20);
    }
  }
  printf("0\n");
  UnlockFile(file, offset, 0, length, 0);
  CloseHandle(file);
  return 0;
}
