/* A user library for the DLL gateway tests: procedures take the request body and return a text
   the library owns. */
#include <stdio.h>
#include <stdlib.h>
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

/* Uses the maths library, so that the library depends on one more than the C library. */
#include <math.h>
static char root_text[64];
const char* root(const char* body) {
    snprintf(root_text, sizeof root_text, "%g", sqrt(atof(body)));
    return root_text;
}

/* An exported object, not a procedure. */
const char not_a_procedure[] = "data";

/* Leaves a trace when the library is loaded at all: its constructor runs before any procedure is
   looked up, which is what a project that carries a library could make the program do. */
__attribute__((constructor)) static void mark_loaded(void) {
    const char* mark = getenv("TSR_LIBRARY_MARK");
    if (!mark) return;
    FILE* f = fopen(mark, "w");
    if (f) {
        fputs("loaded\n", f);
        fclose(f);
    }
}
