// SPDX-License-Identifier: MIT
/* A link library with only the four entry points, as an older libVorlink.so has: it forwards them
   to the real library (ZOLT_REAL_LINK, loaded at the first call) and exports nothing else, so a
   program that loads it finds no DeviceLocation. Built with hidden visibility; the four are made
   visible one by one. */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>

#define EXPORT __attribute__((visibility("default")))

static void* library;
static pthread_once_t loaded = PTHREAD_ONCE_INIT;

static void Load(void) {
  library = dlopen(ZOLT_REAL_LINK, RTLD_NOW | RTLD_LOCAL);
}

/* The fixtures call from threads of their own: the library is loaded once, by the first. */
static void* Real(const char* name) {
  pthread_once(&loaded, Load);
  void* entry = library != NULL ? dlsym(library, name) : NULL;
  if (entry == NULL) {
    /* A test helper that cannot reach the real library has nothing to stand in for. */
    fprintf(stderr, "four_exports_link: %s: %s\n", name, dlerror());
    abort();
  }
  return entry;
}

EXPORT int OpenDevice(int productId, int deviceIndex) {
  int (*entry)(int, int) = (int (*)(int, int))Real("OpenDevice");
  return entry(productId, deviceIndex);
}

EXPORT int Write(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  int (*entry)(int, unsigned char*, int, int*, int) =
      (int (*)(int, unsigned char*, int, int*, int))Real("Write");
  return entry(deviceIndex, buffer, length, transferred, timeoutMs);
}

EXPORT int Read(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  int (*entry)(int, unsigned char*, int, int*, int) =
      (int (*)(int, unsigned char*, int, int*, int))Real("Read");
  return entry(deviceIndex, buffer, length, transferred, timeoutMs);
}

EXPORT void Close(int deviceIndex) {
  void (*entry)(int) = (void (*)(int))Real("Close");
  entry(deviceIndex);
}
