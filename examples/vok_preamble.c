/* Opens a recording and prints its preamble and revisions. */
#include <stdio.h>
#include <stdlib.h>

#include "vokapi.h"

static void print_log(const char* text) { fprintf(stderr, "vokapi: %s", text); }

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s RECORDING.vok\n", argv[0]);
        return 2;
    }
    vok_set_log_function(print_log);
    int err = 0;
    VOKFile* file = vok_open_file(argv[1], 0, 1, 1, &err);
    if (file == NULL) {
        fprintf(stderr, "%s: cannot open the recording\n", argv[1]);
        return 1;
    }
    int length = vok_get_preamble_text_length(file);
    char* text = malloc(length > 0 ? (size_t)length : 1u);
    if (text == NULL) {
        vok_close_file(file);
        return 1;
    }
    vok_get_preamble_text(file, text, length);
    printf("library:          %s\n", vok_get_version());
    printf("file:             %s\n", argv[1]);
    printf("revision:         %d\n", vok_get_revision(file));
    printf("tracker revision: %d\n", vok_get_tarnvik_revision(file));
    printf("preamble:\n%s", length > 0 ? text : "");
    free(text);
    vok_close_file(file);
    return 0;
}
