// SPDX-License-Identifier: MIT
/* Stands in for a link library that lacks one of its exports: built once per export, without the
   one its ZOLT_WITHOUT_<name> definition names. */
#ifndef ZOLT_WITHOUT_OpenDevice
int OpenDevice(int productId, int deviceIndex) {
  return productId + deviceIndex >= 0;
}
#endif
#ifndef ZOLT_WITHOUT_Write
int Write(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  (void)deviceIndex, (void)buffer, (void)timeoutMs;
  *transferred = length;
  return 1;
}
#endif
#ifndef ZOLT_WITHOUT_Read
int Read(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  (void)deviceIndex, (void)buffer, (void)length, (void)timeoutMs;
  *transferred = 0;
  return 0;
}
#endif
#ifndef ZOLT_WITHOUT_Close
void Close(int deviceIndex) {
  (void)deviceIndex;
}
#endif
#ifdef ZOLT_WITH_WriteChunks
int WriteChunks(int deviceIndex, unsigned char* buffer, int length, int count, int timeoutMs, int* completed,
                int* failedResult, int* failedTransferred) {
  (void)deviceIndex, (void)buffer, (void)length, (void)count, (void)timeoutMs;
  (void)completed, (void)failedResult, (void)failedTransferred;
  return 1;
}
#endif
