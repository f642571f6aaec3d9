// Status codes that belong to the Java bridge, disjoint from every engine's
// (the random source uses -1 and -3, the SM4 modes -16385 to -16388).
#ifndef ZENTHAL_NATIVE_STATUS_H
#define ZENTHAL_NATIVE_STATUS_H

#define NATIVE_OK 1
#define NATIVE_ERR_HASH_LENGTH (-6)    // sm3HashNative: hash is not 32 long
#define NATIVE_ERR_KEY_IV_LENGTH (-7)  // cipher methods: key, macKey or iv not 16 long
// null array, negative size, length beyond its array, or an SM3 state array
// not 104 long
#define NATIVE_ERR_ARGUMENT (-8)
#define NATIVE_ERR_NO_MEMORY (-9)  // scratch allocation failed or the VM returned no elements
// Sm4Native: output overlaps the input ahead of it in one direct buffer; the
// caller copies the input first
#define NATIVE_ERR_OVERLAP (-10)

#endif
