/* A small host program for Windows: loads Delvan.dll, calls RunWSOrvDLL once
 * through a stdcall function pointer and writes the 8-bit text it returns,
 * as it is, to standard output (followed by a line break).
 *
 *   delvan-host [--without-com] [LIBRARY] AFM_CALLED_BY AFM_CALLED_FOR USERNAME PASSWORD
 *
 * LIBRARY defaults to Delvan.dll. The library never initialises COM itself:
 * like every host, this one does so on the calling thread before the call
 * (--without-com leaves it out, to show the failure text the call then
 * gives). The exit code is 0 for a result text, 1 for a failure text and 2
 * when the library cannot be used. */
#include <fcntl.h>
#include <io.h>
/* clang-format off */
#include <objbase.h>
/* clang-format on */
#include <stdio.h>
#include <string.h>
/* clang-format off */
#include <windows.h>
/* clang-format on */

/* The export: four NUL-terminated 8-bit strings in, one out; stdcall, so the
 * library removes the 16 bytes of arguments. */
typedef const char*(__stdcall* RunWSOrvDLLFn)(const char* afmCalledBy, const char* afmCalledFor,
                                              const char* username, const char* password);

/* The failure text starts with this sentence, in code page 1253, CR LF. */
static const char kFailureSentence[] =
    "\xD0\xE1\xF1\xEF\xF5\xF3\xE9\xDC\xF3\xF4\xE7\xEA\xE5\x20\xF3\xF6\xDC\xEB\xEC\xE1\x20"
    "\xEA\xE1\xF4\xE1\x20\xF4\xE7\xED\x20\xE1\xED\xDC\xEA\xF4\xE7\xF3\xE7\x20\xF3\xF4\xEF"
    "\xE9\xF7\xE5\xDF\xF9\xED\x20\xE1\xF0\xEF\x20\xF4\xEF\x20\x54\x41\x58\x49\x53\x0D\x0A";

int main(int argc, char** argv) {
  const char* library = "Delvan.dll";
  int first = 1, withCom = 1, failed;
  HMODULE module;
  FARPROC address;
  RunWSOrvDLLFn run;
  const char* text;
  size_t len, sentence = sizeof kFailureSentence - 1;
  if (argc > 1 && strcmp(argv[1], "--without-com") == 0) {
    withCom = 0;
    first = 2;
  }
  if (argc - first == 5) {
    library = argv[first++];
  } else if (argc - first != 4) {
    fprintf(stderr,
            "usage: %s [--without-com] [LIBRARY] AFM_CALLED_BY AFM_CALLED_FOR USERNAME PASSWORD\n",
            argv[0]);
    return 2;
  }
  /* The text goes out byte for byte: no CR LF translation. */
  _setmode(_fileno(stdout), _O_BINARY);
  module = LoadLibraryA(library);
  if (!module) {
    fprintf(stderr, "cannot load %s: error %lu\n", library, (unsigned long)GetLastError());
    return 2;
  }
  address = GetProcAddress(module, "RunWSOrvDLL");
  if (!address) {
    fprintf(stderr, "RunWSOrvDLL not found in %s\n", library);
    FreeLibrary(module);
    return 2;
  }
  memcpy(&run, &address, sizeof run); /* a function pointer of the export's own type */
  if (withCom && FAILED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED))) {
    fprintf(stderr, "cannot initialise COM\n");
    return 2;
  }
  text = run(argv[first], argv[first + 1], argv[first + 2], argv[first + 3]);
  len = strlen(text);
  fwrite(text, 1, len, stdout);
  fputc('\n', stdout);
  fflush(stdout);
  failed = len >= sentence && memcmp(text, kFailureSentence, sentence) == 0;
  FreeLibrary(module);
  if (withCom) CoUninitialize();
  return failed ? 1 : 0;
}
