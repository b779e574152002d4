/* A small host program: loads the Delvan library, calls RunWSOrvDLL once and
 * prints the text it returns, decoded for the terminal. A failure text is a
 * Greek sentence in code page 1253 followed by a message in the system ANSI
 * code page (the locale's code set); a result text is all in the latter.
 *
 *   delvan-host LIBRARY AFM_CALLED_BY AFM_CALLED_FOR USERNAME PASSWORD
 */
#include <dlfcn.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>

typedef const char* (*RunWSOrvDLLFn)(const char*, const char*, const char*, const char*);

static const char kFailureSentence[] =
    "\xD0\xE1\xF1\xEF\xF5\xF3\xE9\xDC\xF3\xF4\xE7\xEA\xE5\x20\xF3\xF6\xDC\xEB\xEC\xE1\x20"
    "\xEA\xE1\xF4\xE1\x20\xF4\xE7\xED\x20\xE1\xED\xDC\xEA\xF4\xE7\xF3\xE7\x20\xF3\xF4\xEF"
    "\xE9\xF7\xE5\xDF\xF9\xED\x20\xE1\xF0\xEF\x20\xF4\xEF\x20\x54\x41\x58\x49\x53\x0D\x0A";

/* Writes len bytes in code set from, converted to the terminal's code set. */
static void PrintConverted(const char* from, const char* text, size_t len) {
  iconv_t cd = iconv_open(nl_langinfo(CODESET), from);
  if (cd == (iconv_t)-1) {
    fwrite(text, 1, len, stdout);
    return;
  }
  char* in = (char*)text;
  while (len > 0) {
    char buf[4096];
    char* out = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &in, &len, &out, &room);
    fwrite(buf, 1, (size_t)(out - buf), stdout);
    if (r == (size_t)-1 && out == buf) { /* not representable: show a "?" and go on */
      fputc('?', stdout);
      ++in;
      --len;
    }
  }
  iconv_close(cd);
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: %s LIBRARY AFM_CALLED_BY AFM_CALLED_FOR USERNAME PASSWORD\n", argv[0]);
    return 2;
  }
  setlocale(LC_ALL, "");
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 2;
  }
  RunWSOrvDLLFn run;
  *(void**)(&run) = dlsym(lib, "RunWSOrvDLL"); /* POSIX's way to get a function pointer */
  if (!run) {
    fprintf(stderr, "RunWSOrvDLL not found: %s\n", dlerror());
    return 2;
  }
  const char* text = run(argv[2], argv[3], argv[4], argv[5]);
  size_t len = strlen(text);
  size_t sentence = sizeof kFailureSentence - 1;
  int failed = len >= sentence && memcmp(text, kFailureSentence, sentence) == 0;
  if (failed) {
    PrintConverted("CP1253", text, sentence);
    PrintConverted(nl_langinfo(CODESET), text + sentence, len - sentence);
  } else {
    PrintConverted(nl_langinfo(CODESET), text, len);
  }
  fputc('\n', stdout);
  dlclose(lib);
  return failed ? 1 : 0;
}
