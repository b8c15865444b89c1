/* Tokenizes a JSON document and prints a summary and its first tokens.
 *   tokens [FILE] [COUNT]    (default: the bundled reply.json, 12 tokens)
 * The token array starts small and grows whenever the tokenizer runs out of tokens;
 * the parse resumes where it stopped instead of starting again. */
#include <qmrt/qmrt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char *read_all(const char *path) {
    FILE *file = fopen(path, "rb");
    if (file == NULL) return NULL;
    size_t size = 0, capacity = 4096;
    char *text = malloc(capacity);
    size_t got;
    while (text != NULL && (got = fread(text + size, 1, capacity - size - 1, file)) > 0) {
        size += got;
        if (capacity - size - 1 == 0) {
            char *larger = realloc(text, capacity *= 2);
            if (larger == NULL) free(text);
            text = larger;
        }
    }
    fclose(file);
    if (text != NULL) text[size] = '\0';
    return text;
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : QMRT_EXAMPLE_DATA "/reply.json";
    int shown = argc > 2 ? atoi(argv[2]) : 12;
    static const char *const kinds[] = {"primitive", "object", "array", "string"};

    char *text = read_all(path);
    if (text == NULL) {
        fprintf(stderr, "tokens: cannot read %s\n", path);
        return 1;
    }

    jsmn_state state;
    jsmn_init(&state);
    uint32_t count = 8;
    json_token *tokens = malloc(count * sizeof *tokens);
    int32_t status;
    int growths = 0;
    while (tokens != NULL &&
           (status = jsmn_parse(&state, text, tokens, count)) == JSON_ERR_NO_TOKENS) {
        json_token *larger = realloc(tokens, (2 * count + 1) * sizeof *tokens);
        if (larger == NULL) free(tokens);
        tokens = larger;
        count = 2 * count + 1;
        ++growths;
    }
    if (tokens == NULL) {
        fprintf(stderr, "tokens: out of memory\n");
        free(text);
        return 1;
    }

    int per_kind[4] = {0, 0, 0, 0};
    for (int32_t i = 0; i < state.next_free; ++i) per_kind[tokens[i].type]++;
    printf("%s: %zu bytes, status %d, %d tokens (array grown %d times to %u)\n", path, strlen(text),
           status, state.next_free, growths, count);
    printf("  %d objects, %d arrays, %d strings, %d primitives\n", per_kind[JSON_OBJECT],
           per_kind[JSON_ARRAY], per_kind[JSON_STRING], per_kind[JSON_PRIMITIVE]);
    printf("  %5s  %-9s %7s %7s %5s  %s\n", "index", "kind", "start", "end", "size", "text");
    for (int32_t i = 0; i < state.next_free && i < shown; ++i) {
        const json_token *t = &tokens[i];
        int length = t->end < 0 ? 0 : t->end - t->start;
        printf("  %5d  %-9s %7d %7d %5d  ", i, kinds[t->type], t->start, t->end, t->size);
        /* The token's text on one line: line breaks and tabs shown as blanks. */
        for (int k = 0; k < length && k < 40; ++k) {
            char c = text[t->start + k];
            putchar(c == '\n' || c == '\r' || c == '\t' ? ' ' : c);
        }
        puts(length > 40 ? "..." : "");
    }
    free(tokens);
    free(text);
    return status == 0 ? 0 : 1;
}
