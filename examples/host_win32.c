/* A small host program for Windows: loads Delvan.dll, calls RunWSOrvDLL once
 * through a stdcall function pointer and writes the 8-bit text it returns,
 * as it is, to standard output (followed by a line break).
 *
 *   delvan-host [LIBRARY] AFM_CALLED_BY AFM_CALLED_FOR USERNAME PASSWORD
 *
 * LIBRARY defaults to Delvan.dll. The exit code is 0 for a result text, 1
 * for a failure text and 2 when the library cannot be used. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

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
  int first = 1;
  HMODULE module;
  RunWSOrvDLLFn run;
  const char* text;
  size_t len, sentence = sizeof kFailureSentence - 1;
  if (argc == 6) {
    library = argv[1];
    first = 2;
  } else if (argc != 5) {
    fprintf(stderr, "usage: %s [LIBRARY] AFM_CALLED_BY AFM_CALLED_FOR USERNAME PASSWORD\n",
            argv[0]);
    return 2;
  }
  module = LoadLibraryA(library);
  if (!module) {
    fprintf(stderr, "cannot load %s: error %lu\n", library, (unsigned long)GetLastError());
    return 2;
  }
  run = (RunWSOrvDLLFn)(void*)GetProcAddress(module, "RunWSOrvDLL");
  if (!run) {
    fprintf(stderr, "RunWSOrvDLL not found in %s\n", library);
    FreeLibrary(module);
    return 2;
  }
  text = run(argv[first], argv[first + 1], argv[first + 2], argv[first + 3]);
  len = strlen(text);
  fwrite(text, 1, len, stdout);
  fputc('\n', stdout);
  fflush(stdout);
  FreeLibrary(module);
  return len >= sentence && memcmp(text, kFailureSentence, sentence) == 0 ? 1 : 0;
}
