// The Modbus TCP answer stream target with every answer split into pieces of
// 1 to 8 bytes, written one by one: a header or a PDU cut anywhere.
#define KV_FUZZ_CHUNKED true
#include "tcp_stream_fuzz.cpp"
