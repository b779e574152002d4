/* The floor of the comparison (bench/compare.sh): a bare expat parse of the
 * response, counting the activity elements, with no tree and no records.
 *   peer_expat RESPONSE_FILE REPETITIONS
 * prints: median microseconds, peak resident kilobytes, activities read. */
#include <expat.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

static void XMLCALL Start(void* user, const XML_Char* name, const XML_Char** atts) {
  (void)atts;
  const char* colon = strrchr(name, ':');
  if (strcmp(colon ? colon + 1 : name, "RgWsPublicFirmActRtUser") == 0) ++*(long*)user;
}
static void XMLCALL End(void* user, const XML_Char* name) { (void)user, (void)name; }
static void XMLCALL Text(void* user, const XML_Char* s, int len) { (void)user, (void)s, (void)len; }

static int Compare(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(int argc, char** argv) {
  if (argc != 3) return fprintf(stderr, "usage: %s RESPONSE_FILE REPETITIONS\n", argv[0]), 2;
  FILE* f = fopen(argv[1], "rb");
  if (!f) return perror(argv[1]), 1;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  char* data = malloc((size_t)size);
  if (!data || fread(data, 1, (size_t)size, f) != (size_t)size) return 1;
  fclose(f);
  int reps = atoi(argv[2]) > 0 ? atoi(argv[2]) : 1;
  double* us = malloc(sizeof(double) * (size_t)reps);
  long count = 0;
  for (int r = 0; r < reps; ++r) {
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    count = 0;
    XML_Parser p = XML_ParserCreate(NULL);
    XML_SetUserData(p, &count);
    XML_SetElementHandler(p, Start, End);
    XML_SetCharacterDataHandler(p, Text);
    if (XML_Parse(p, data, (int)size, 1) != XML_STATUS_OK)
      return fprintf(stderr, "parse error\n"), 1;
    XML_ParserFree(p);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    us[r] = (double)(t1.tv_sec - t0.tv_sec) * 1e6 + (double)(t1.tv_nsec - t0.tv_nsec) / 1e3;
  }
  qsort(us, (size_t)reps, sizeof(double), Compare);
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  printf("%.1f %ld %ld\n", us[reps / 2], ru.ru_maxrss, count);
  free(us);
  free(data);
  return 0;
}
