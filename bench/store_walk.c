/* The peer the grid's load is measured against: a plain C client that reads
 * a whole result with mysql_store_result and walks every field.
 * usage: store-walk HOST PORT USER PASSWORD DATABASE SQL
 * prints: store_ms=... rows=... raw_bytes=... peak_rss_kb=... */
#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static long peak_rss_kb(void)
{
    FILE *f = fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (f && fgets(line, sizeof line, f))
        if (strncmp(line, "VmHWM:", 6) == 0)
            kb = atol(line + 6);
    if (f)
        fclose(f);
    return kb;
}

int main(int argc, char **argv)
{
    if (argc != 7) {
        fprintf(stderr, "usage: %s HOST PORT USER PASSWORD DATABASE SQL\n", argv[0]);
        return 2;
    }
    const double start = now_ms();
    MYSQL *m = mysql_init(NULL);
    unsigned proto = MYSQL_PROTOCOL_TCP;
    mysql_optionsv(m, MYSQL_OPT_PROTOCOL, &proto);
    mysql_optionsv(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (!mysql_real_connect(m, argv[1], argv[3], argv[4], argv[5], (unsigned)atoi(argv[2]), NULL, 0)
        || mysql_query(m, argv[6]) != 0) {
        fprintf(stderr, "%s\n", mysql_error(m));
        return 1;
    }
    MYSQL_RES *res = mysql_store_result(m);
    if (!res) {
        fprintf(stderr, "%s\n", mysql_error(m));
        return 1;
    }
    const unsigned n = mysql_num_fields(res);
    unsigned long long rows = 0, bytes = 0;
    unsigned check = 0;
    MYSQL_ROW row;
    while ((row = mysql_fetch_row(res))) {
        const unsigned long *len = mysql_fetch_lengths(res);
        for (unsigned i = 0; i < n; ++i) {
            bytes += len[i];
            if (row[i] && len[i])
                check += (unsigned char)row[i][len[i] - 1];
        }
        ++rows;
    }
    const double ms = now_ms() - start;
    printf("store_ms=%.1f\nrows=%llu\nraw_bytes=%llu\npeak_rss_kb=%ld\ncheck=%u\n", ms, rows, bytes, peak_rss_kb(), check);
    mysql_free_result(res);
    mysql_close(m);
    return 0;
}
