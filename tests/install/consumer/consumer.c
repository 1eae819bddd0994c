/* Links against the installed library and calls it. */
#include <stdio.h>
#include <string.h>

#include <vokapi.h>

int main(void) {
    const char* version = vok_get_version();
    if (version == NULL || strlen(version) == 0) return 1;
    if (vok_close_file(NULL) != 0) return 1;
    printf("%s\n", version);
    return 0;
}
