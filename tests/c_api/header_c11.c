/* The public header as a C11 program sees it. The file builds under -std=c11
 * -pedantic -Werror; every export's address is taken with the type written
 * below, so a changed parameter or result type stops the build; and the
 * exports named here must be exactly the build's export list. */
#include <stdio.h>
#include <string.h>

#include "CadenzorExportNames.h"
#include "cadenzor/cadenzor.h"

/* The shapes of the exports. */
typedef int32_t CZ_CALL Path1(const char*);
typedef int32_t CZ_CALL Path2(const char*, const char*);
typedef int32_t CZ_CALL Path2Value(const char*, const char*, uint32_t);
typedef int32_t CZ_CALL Path3(const char*, const char*, const char*);
typedef int32_t CZ_CALL Path3Value(const char*, const char*, const char*, uint32_t);
typedef int32_t CZ_CALL Path3Value2(const char*, const char*, const char*, uint32_t, uint32_t);
typedef int32_t CZ_CALL Path3Value4(const char*, const char*, const char*, uint32_t, uint32_t, uint32_t, uint32_t);
typedef int32_t CZ_CALL Path5(const char*, const char*, const char*, const char*, const char*);
typedef int32_t CZ_CALL Word3(uintptr_t, uintptr_t, uintptr_t);

typedef void (*AnyFunction)(void);

struct Export {
    const char* name;
    AnyFunction address;
};

/* The selection has no default: an export of another type matches nothing
 * and the build fails. */
#define EXPORT(Type, name) {#name, _Generic(&(name), Type*: (AnyFunction)(name))}

static const struct Export kDeclared[] = {
    EXPORT(Path3, ConvertWAVToAPM),
    EXPORT(Path3, ConvertWAVToMDM),
    EXPORT(Path3Value, ConvertWAVToAPMWithResample),
    EXPORT(Path3Value, ConvertWAVToMDMWithResample),
    EXPORT(Path3Value4, ConvertWAVToESB),
    EXPORT(Path3Value2, ConvertWAVToMCP),
    EXPORT(Path3Value2, ConvertWAVToWLP),
    EXPORT(Path2, ConvertWAVToXMF),
    EXPORT(Path2Value, ConvertWAVToXMFWithResample),
    EXPORT(Path2Value, WAVResample),
    EXPORT(Path1, CheckSupportWavFile),
    EXPORT(Path2, ConvertMDMToWAV),
    EXPORT(Path2, ConvertMP3ToWAV),
    EXPORT(Path2Value, ConvertMP3ToWAVWithResample),
    EXPORT(Path3Value, ConvertMP3ToAPMWithResample),
    EXPORT(Path3Value, ConvertMP3ToMDMWithResample),
    EXPORT(Path2, ConvertWMAToWAV),
    EXPORT(Path2Value, ConvertWMAToWAVWithResample),
    EXPORT(Path3Value, ConvertWMAToAPMWithResample),
    EXPORT(Path3Value, ConvertWMAToMDMWithResample),
    EXPORT(Path2, ConvertMIDToIMF),
    EXPORT(Word3, ConvertMIDToIMFByChipItem),
    EXPORT(Path2, ConvertMIDToXMF),
    EXPORT(Path2, ConvertXMFToMID),
    EXPORT(Path3, ConvertXMFToMIDAndDLS),
    EXPORT(Path5, ConvertXMFToMIDAndDLSForPlay),
    EXPORT(Path2, ConvertXMFToWAV),
    EXPORT(Path1, GetXMFResourceType),
    EXPORT(Path2Value, RbfCutToFitSize),
};

static size_t TimesDeclared(const char* name) {
    size_t times = 0;
    size_t i;
    for (i = 0; i < sizeof kDeclared / sizeof kDeclared[0]; ++i) times += strcmp(kDeclared[i].name, name) == 0;
    return times;
}

static int IsListed(const char* name) {
    size_t i;
    for (i = 0; i < CZ_EXPORT_COUNT; ++i)
        if (strcmp(kCadenzorExportNames[i], name) == 0) return 1;
    return 0;
}

int main(void) {
    int failures = 0;
    size_t i;
    for (i = 0; i < CZ_EXPORT_COUNT; ++i) {
        if (TimesDeclared(kCadenzorExportNames[i]) != 1) {
            fprintf(stderr, "FAIL %s is on the export list but not declared here once\n", kCadenzorExportNames[i]);
            ++failures;
        }
    }
    for (i = 0; i < sizeof kDeclared / sizeof kDeclared[0]; ++i) {
        if (!IsListed(kDeclared[i].name)) {
            fprintf(stderr, "FAIL %s is declared but not on the export list\n", kDeclared[i].name);
            ++failures;
        }
        if (kDeclared[i].address == NULL) {
            fprintf(stderr, "FAIL %s has no address\n", kDeclared[i].name);
            ++failures;
        }
    }
    /* One call through the C surface: the program links and runs. */
    if (CheckSupportWavFile(NULL) != 0) {
        fprintf(stderr, "FAIL CheckSupportWavFile(NULL) is not 0\n");
        ++failures;
    }
    printf("%u exports declared with their types, %d failures\n", (unsigned)CZ_EXPORT_COUNT, failures);
    return failures == 0 ? 0 : 1;
}
