/* Delvan: looks a business up in the tax administration's public registry
 * by its tax registration number. */
#ifndef DELVAN_H
#define DELVAN_H

#if defined(_WIN32)
#define DELVAN_CALL __stdcall
#if defined(DELVAN_BUILDING_LIBRARY)
#define DELVAN_API __declspec(dllexport)
#else
#define DELVAN_API __declspec(dllimport)
#endif
#else
#define DELVAN_CALL
#define DELVAN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One complete lookup. The two tax registration numbers are read in the
 * system ANSI code page, the user name and password as UTF-8 bytes; a null
 * pointer counts as an empty string.
 *
 * Returns the registry's data as name=value items separated by semicolons,
 * in the system ANSI code page, or the failure text: a fixed Greek sentence
 * in code page 1253 ending in CR LF, followed by the failure's message in the
 * system ANSI code page. The text is NUL-terminated and owned by the
 * library: it stays valid until the same thread calls again. Calls from
 * several threads are serialised. */
DELVAN_API const char* DELVAN_CALL RunWSOrvDLL(const char* afmCalledBy, const char* afmCalledFor,
                                               const char* username, const char* password);

#ifdef __cplusplus
}
#endif

#endif /* DELVAN_H */
