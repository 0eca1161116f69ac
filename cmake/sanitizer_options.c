/* Built into every program and library of an AddressSanitizer build: the
   runtime's settings that the program needs whatever ASAN_OPTIONS says (a
   setting given there still wins).

   intercept_tls_get_addr=0: the runtime (GCC 12's, as LLVM's up to 16)
   watches each thread's first use of a run-time-loaded library's
   thread-local block, and for a block that starts 16 bytes into a page it
   takes the 16 bytes before it for an old C library's header holding the
   block's range. Under AddressSanitizer they are its allocator's chunk
   header (the chunk's flags and size, then the allocating thread and
   stack), so the leak check's tracer scans from an address such as
   0x5b8 or 0x100000078 and dies with signal 11. Every GL program has such
   blocks (Mesa's driver and LLVM are loaded at run time), so any of them
   could end that way, depending only on where its blocks happened to land.
   Without the watch the blocks are still scanned: the C library allocates
   them from its dynamic loader, and the leak check counts every block the
   loader allocated as a root. */
const char* __asan_default_options(void);
const char* __asan_default_options(void) { return "intercept_tls_get_addr=0"; }
