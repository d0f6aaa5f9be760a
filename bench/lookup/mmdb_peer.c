/* The peer of the whole-run comparisons: libmaxminddb answering the same
 * inputs as ipcountry-batch, one MMDB_lookup_string per line, with output.
 *   mmdb_peer DATABASE find [iso]      < addresses      address TAB code
 *   mmdb_peer DATABASE formatted [iso] < address:port   address TAB port TAB code
 * The code is the top-level country_code (ip-location-db's layout), or with
 * iso country.iso_code (GeoLite2-Country's, and ours).
 * Built by compare-whole-runs; libmaxminddb is no dependency of the project. */
#include <maxminddb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char output[1 << 16];

int main(int argc, char **argv) {
    if (argc != 3 && !(argc == 4 && strcmp(argv[3], "iso") == 0)) {
        fprintf(stderr, "usage: mmdb_peer DATABASE find|formatted [iso] < input\n");
        return 2;
    }
    const int iso = argc == 4;
    const int formatted = strcmp(argv[2], "formatted") == 0;
    MMDB_s db;
    int status = MMDB_open(argv[1], MMDB_MODE_MMAP, &db);
    if (status != MMDB_SUCCESS) {
        fprintf(stderr, "%s: %s\n", argv[1], MMDB_strerror(status));
        return 1;
    }
    setvbuf(stdout, output, _IOFBF, sizeof output);
    char *line = NULL;
    size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, stdin)) > 0) {
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
        const char *port = "";
        if (formatted) {
            char *colon = strchr(line, ':');
            if (colon != NULL) {
                *colon = 0;
                port = colon + 1;
            }
        }
        int gaiError = 0, mmdbError = 0;
        MMDB_lookup_result_s result = MMDB_lookup_string(&db, line, &gaiError, &mmdbError);
        char code[3] = "";
        if (gaiError == 0 && mmdbError == 0 && result.found_entry) {
            MMDB_entry_data_s data;
            const int got = iso ? MMDB_get_value(&result.entry, &data, "country", "iso_code", NULL)
                                : MMDB_get_value(&result.entry, &data, "country_code", NULL);
            if (got == MMDB_SUCCESS &&
                data.has_data && data.type == MMDB_DATA_TYPE_UTF8_STRING && data.data_size == 2) {
                memcpy(code, data.utf8_string, 2);
                code[2] = 0;
            }
        } else if (gaiError != 0 || mmdbError != 0) {
            fprintf(stderr, "%s: wrong address\n", line);
            continue;
        }
        if (formatted)
            printf("%s\t:%s\t%s\n", line, port, code);
        else
            printf("%s\t%s\n", line, code);
    }
    free(line);
    MMDB_close(&db);
    return 0;
}
