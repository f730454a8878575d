/* Stands in for a link library that lacks its Read export: OpenDevice and Write are present,
   Read is missing, Close is present after it. */
int OpenDevice(int productId, int deviceIndex) { return productId + deviceIndex >= 0; }
int Write(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  (void)deviceIndex, (void)buffer, (void)timeoutMs;
  *transferred = length;
  return 1;
}
void Close(int deviceIndex) { (void)deviceIndex; }
