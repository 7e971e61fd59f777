/* A user library for the DLL gateway tests: procedures take the request body and return a text
   the library owns. */
#include <stdio.h>
#include <string.h>

static char answer[200000];

const char* echo(const char* body) {
    snprintf(answer, sizeof answer, "echo:%s", body);
    return answer;
}

const char* nothing(const char* body) {
    (void)body;
    return NULL;
}

const char* huge(const char* body) {
    (void)body;
    memset(answer, 'x', 150000);
    answer[150000] = '\0';
    return answer;
}
