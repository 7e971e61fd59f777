// The test runtime library orvo8.so: the entry point the Corvane gateway calls, and the functions
// through which a test (or the simulate command) reads and changes the runtime's variables and
// counts its calls. Every function is safe to call from any thread.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The runtime's entry point: `block` is the 18-byte record of nine little-endian words.
void OrvoEntryPoint(void* block);

// Clears every variable, counter, list and fault.
void Orvo8Reset(void);
// A variable's value as 32 bits (type code 0..7, index 0..9999; others are ignored / read 0).
void Orvo8SetValue(int type, int index, uint32_t value);
uint32_t Orvo8GetValue(int type, int index);
// How many calls carried `command` in word 0.
unsigned Orvo8CommandCount(unsigned command);
// How many direct reads (0x0B00 with a type code) asked for this variable.
unsigned Orvo8DirectReadCount(int type, int index);
// The nine input words of the last direct write's start.
void Orvo8LastWrite(uint16_t words[9]);
#ifdef ORVO8_FAULTS
// Faults (the tests' copy only): the status request answers 1 instead of 0 while `fail` is set; the result request of a
// direct read or write answers 0xFFFF (not ready) `polls` times first (-1: never ready); a direct
// read's start answers `status` (0: accepted).
void Orvo8SetStatusFails(int fail);
void Orvo8SetResultDelay(int polls);
void Orvo8SetReadStatus(unsigned status);
#endif

#ifdef __cplusplus
}
#endif
