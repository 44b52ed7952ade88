/* inflate_baseline IN.zlib OUT [IN_CHUNK [OUT_CHUNK]]
 * The bare loop the zlib extraction is measured against: read a zlib stream
 * IN_CHUNK bytes at a time (default 65536), inflate it with the same zlib the
 * plug-in links into OUT_CHUNK bytes (default IN_CHUNK), write the bytes to a
 * file unbuffered. Nothing else: no checksum of ours, no progress, no
 * archive. */
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        fprintf(stderr, "usage: inflate_baseline IN.zlib OUT [IN_CHUNK [OUT_CHUNK]]\n");
        return 2;
    }
    size_t chunk = argc >= 4 ? (size_t)strtoul(argv[3], NULL, 10) : 65536;
    if (chunk == 0) chunk = 65536;
    size_t outChunk = argc == 5 ? (size_t)strtoul(argv[4], NULL, 10) : chunk;
    if (outChunk == 0) outChunk = chunk;
    FILE* in = fopen(argv[1], "rb");
    FILE* out = fopen(argv[2], "wb");
    if (in) setvbuf(in, NULL, _IONBF, 0);
    if (out) setvbuf(out, NULL, _IONBF, 0);
    unsigned char* inBuf = malloc(chunk);
    unsigned char* outBuf = malloc(outChunk);
    if (!in || !out || !inBuf || !outBuf) {
        fprintf(stderr, "inflate_baseline: cannot open files\n");
        return 1;
    }
    z_stream z = {0};
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
                fprintf(stderr, "inflate_baseline: bad stream (%d)\n", rc);
                return 1;
            }
            size_t n = outChunk - z.avail_out;
            if (fwrite(outBuf, 1, n, out) != n) {
                fprintf(stderr, "inflate_baseline: write failed\n");
                return 1;
            }
        } while (z.avail_out == 0 && rc != Z_STREAM_END);
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        fprintf(stderr, "inflate_baseline: stream ended early\n");
        return 1;
    }
    if (fclose(out) != 0) return 1;
    fclose(in);
    free(inBuf);
    free(outBuf);
    return 0;
}
