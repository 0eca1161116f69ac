/* A shared library with thread-local data, loaded at run time by the
   dynamic-TLS test: each thread that touches it gets a block of its own
   from the C library's malloc. 48 bytes: under AddressSanitizer each block
   is a 64-byte chunk, so every 64th one starts a page. */
__attribute__((visibility("default"))) _Thread_local unsigned char TlsProbeBlock[48];

__attribute__((visibility("default"))) unsigned char* TlsProbeTouch(unsigned char value) {
  TlsProbeBlock[0] = value;
  return TlsProbeBlock;
}
