// SPDX-License-Identifier: MIT
/*
 * A stand-in for libRegwire.so that records every call. Each call appends one
 * line with its name and arguments to the file named by REGWIRE_RECORD_LOG; the
 * write functions add all 81 elements of the buffer they were given. The read
 * functions fill the buffer from values a test sets with Recording_SetReadValues.
 * Every function returns the result a test sets with Recording_SetResult, and
 * Regwire_lastfailure gives the text set with Recording_SetFailureDetail.
 * Built with PARTIAL_LIBRARY it lacks Get_4X_DX and Regwire_lastfailure.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The real header, so that the compiler checks every signature against it. */
#define REGWIRE_BUILDING
#include "regwire.h"

#define EXPORT REGWIRE_API

static int32_t readValues[1501];
static int32_t readValueCount = 0;
static int32_t result = 0;
static char failureDetail[1024];

static FILE* openLog(void) {
    const char* path = getenv("REGWIRE_RECORD_LOG");
    return path != NULL ? fopen(path, "a") : NULL;
}

static void logCall(const char* name, int n, const int32_t* args) {
    FILE* log = openLog();
    if (log == NULL) return;
    fputs(name, log);
    for (int i = 0; i < n; ++i) fprintf(log, " %d", args[i]);
    fputc('\n', log);
    fclose(log);
}

static void logWrite(const char* name, const int32_t* args, const int32_t* buffer) {
    FILE* log = openLog();
    if (log == NULL) return;
    fputs(name, log);
    for (int i = 0; i < 4; ++i) fprintf(log, " %d", args[i]);
    fputs(" |", log);
    for (int i = 0; i < 81; ++i) fprintf(log, " %d", buffer[i]);
    fputc('\n', log);
    fclose(log);
}

static void fill(int32_t count, int32_t* buffer) {
    for (int32_t i = 0; i < count && i < readValueCount; ++i) buffer[i] = readValues[i];
}

EXPORT void Recording_SetReadValues(const int32_t* values, int32_t n) {
    if (n < 0) n = 0;
    if (n > 1501) n = 1501;
    for (int32_t i = 0; i < n; ++i) readValues[i] = values[i];
    readValueCount = n;
}

EXPORT void Recording_SetResult(int32_t r) {
    result = r;
}

EXPORT void Recording_SetFailureDetail(const char* text) {
    snprintf(failureDetail, sizeof failureDetail, "%s", text != NULL ? text : "");
}

EXPORT int32_t OpenPort_Modbus(int32_t port, int32_t speed, int32_t parity) {
    const int32_t args[] = {port, speed, parity};
    logCall("OpenPort_Modbus", 3, args);
    return result;
}

EXPORT int32_t ClosePort_Modbus(int32_t port) {
    logCall("ClosePort_Modbus", 1, &port);
    return result;
}

#ifndef PARTIAL_LIBRARY
EXPORT int32_t Get_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                         int32_t* buffer) {
    const int32_t args[] = {port, station, start, count};
    logCall("Get_4X_DX", 4, args);
    fill(count, buffer);
    return result;
}
#endif

EXPORT int32_t Get_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                          int32_t* buffer) {
    const int32_t args[] = {port, station, start, count};
    logCall("Get_4X_LDX", 4, args);
    fill(count, buffer);
    return result;
}

EXPORT int32_t Set_4X_DX(int32_t port, int32_t station, int32_t start, int32_t count,
                         const int32_t* buffer) {
    const int32_t args[] = {port, station, start, count};
    logWrite("Set_4X_DX", args, buffer);
    return result;
}

EXPORT int32_t Set_4X_LDX(int32_t port, int32_t station, int32_t start, int32_t count,
                          const int32_t* buffer) {
    const int32_t args[] = {port, station, start, count};
    logWrite("Set_4X_LDX", args, buffer);
    return result;
}

#ifndef PARTIAL_LIBRARY
EXPORT int32_t Regwire_lastfailure(int32_t port, char* text, int32_t size) {
    (void)port;
    const size_t length = strlen(failureDetail);
    if (text != NULL && size > 0) snprintf(text, (size_t)size, "%s", failureDetail);
    return (int32_t)length;
}
#endif
