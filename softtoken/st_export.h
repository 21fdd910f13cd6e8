// Marks the PKCS#11 entry points as the library's only visible symbols.
#ifndef SOFTTOKEN_ST_EXPORT_H
#define SOFTTOKEN_ST_EXPORT_H

#define ST_EXPORT __attribute__((visibility("default")))

#endif
