/* inflate_baseline IN.zlib OUT [IN_CHUNK [OUT_CHUNK]]
 * inflate_baseline --each OUTDIR|- IN.zlib...
 * The bare loop the zlib extraction is measured against: read a zlib stream
 * IN_CHUNK bytes at a time (default 65536), inflate it with the same zlib the
 * plug-in links into OUT_CHUNK bytes (default IN_CHUNK), write the bytes to a
 * file unbuffered. Nothing else: no checksum of ours, no progress, no
 * archive. --each does the same for every stream in turn, with 65536/262144
 * byte chunks, into OUTDIR/<the stream's file name>, or nowhere for "-". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

/* Inflates `in` into `out` (none: the bytes are dropped); 0 on success. */
static int inflateFile(const char* inPath, const char* outPath, size_t chunk, size_t outChunk) {
    FILE* in = fopen(inPath, "rb");
    FILE* out = outPath ? fopen(outPath, "wb") : NULL;
    if (in) setvbuf(in, NULL, _IONBF, 0);
    if (out) setvbuf(out, NULL, _IONBF, 0);
    unsigned char* inBuf = malloc(chunk);
    unsigned char* outBuf = malloc(outChunk);
    if (!in || (outPath && !out) || !inBuf || !outBuf) {
        fprintf(stderr, "inflate_baseline: cannot open %s or %s\n", inPath, outPath ? outPath : "-");
        return 1;
    }
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return 1;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        z.avail_in = (uInt)fread(inBuf, 1, chunk, in);
        if (z.avail_in == 0) break;
        z.next_in = inBuf;
        do {
            z.next_out = outBuf;
            z.avail_out = (uInt)outChunk;
            rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                fprintf(stderr, "inflate_baseline: bad stream %s (%d)\n", inPath, rc);
                return 1;
            }
            size_t n = outChunk - z.avail_out;
            if (out && fwrite(outBuf, 1, n, out) != n) {
                fprintf(stderr, "inflate_baseline: write failed\n");
                return 1;
            }
        } while (z.avail_out == 0 && rc != Z_STREAM_END);
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        fprintf(stderr, "inflate_baseline: %s ended early\n", inPath);
        return 1;
    }
    if (out && fclose(out) != 0) return 1;
    fclose(in);
    free(inBuf);
    free(outBuf);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 3 && strcmp(argv[1], "--each") == 0) {
        const char* dir = argv[2];
        int i;
        for (i = 3; i < argc; ++i) {
            char path[4096];
            const char* name = strrchr(argv[i], '/');
            const char* back = strrchr(argv[i], '\\');
            if (back && (!name || back > name)) name = back;
            name = name ? name + 1 : argv[i];
            if (strcmp(dir, "-") != 0 && snprintf(path, sizeof path, "%s/%s", dir, name) >= (int)sizeof path) {
                fprintf(stderr, "inflate_baseline: path too long\n");
                return 1;
            }
            if (inflateFile(argv[i], strcmp(dir, "-") == 0 ? NULL : path, 65536, 262144) != 0) return 1;
        }
        return 0;
    }
    if (argc < 3 || argc > 5) {
        fprintf(stderr,
                "usage: inflate_baseline IN.zlib OUT [IN_CHUNK [OUT_CHUNK]]\n"
                "       inflate_baseline --each OUTDIR|- IN.zlib...\n");
        return 2;
    }
    size_t chunk = argc >= 4 ? (size_t)strtoul(argv[3], NULL, 10) : 65536;
    if (chunk == 0) chunk = 65536;
    size_t outChunk = argc == 5 ? (size_t)strtoul(argv[4], NULL, 10) : chunk;
    if (outChunk == 0) outChunk = chunk;
    return inflateFile(argv[1], argv[2], chunk, outChunk);
}
