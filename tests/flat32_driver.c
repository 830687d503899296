/* The test driver linked with flat32/libmodex32.a into a program for the
 * emulated 386: the C library functions the Mode X library may call, which a
 * game's C library brings. The tests call the library's functions one by
 * one; the program has no entry of its own. */
#include <stdarg.h>
#include <stddef.h>

void *memcpy(void *to, const void *from, size_t count) {
  unsigned char *out = (unsigned char *)to;
  const unsigned char *in = (const unsigned char *)from;
  while (count--) *out++ = *in++;
  return to;
}

void *memset(void *to, int value, size_t count) {
  unsigned char *out = (unsigned char *)to;
  while (count--) *out++ = (unsigned char)value;
  return to;
}

static char *put_number(char *out, unsigned long value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value);
  while (n) *out++ = digits[--n];
  return out;
}

/* The conversions kob_problem uses: %u, %lu, %s and %%. */
int sprintf(char *text, const char *format, ...) {
  va_list arguments;
  char *out = text;
  const char *s;
  int wide;
  va_start(arguments, format);
  for (; *format; ++format) {
    if (*format != '%') {
      *out++ = *format;
      continue;
    }
    wide = *++format == 'l';
    if (wide) ++format;
    if (*format == 'u') {
      out = put_number(out, wide ? va_arg(arguments, unsigned long) : va_arg(arguments, unsigned));
    } else if (*format == 's') {
      for (s = va_arg(arguments, const char *); *s;) *out++ = *s++;
    } else {
      *out++ = *format;
    }
  }
  va_end(arguments);
  *out = 0;
  return (int)(out - text);
}
