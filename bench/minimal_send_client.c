/* The least a program can do to send crate commands over TCP and show the
 * traffic: one connection, the 12-byte frame head, a blocking write and
 * reads, and each frame printed as hexadecimal text in the lines of
 * "telvane-cli send --raw". The send benchmark measures telvane-cli
 * against it.
 *
 * Usage: minimal_send_client HOST PORT CCBID COUNT BYTE...
 * (bytes in hexadecimal). Output is flushed after every command on a
 * terminal, else when the buffer fills and at the end. */

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int readFull(int fd, uint8_t* p, size_t n)
{
    while (n > 0) {
        ssize_t r = read(fd, p, n);
        if (r <= 0)
            return 0;
        p += r;
        n -= (size_t)r;
    }
    return 1;
}

static void putBig(uint8_t* p, uint32_t v, int n)
{
    for (int i = n - 1; i >= 0; --i, v >>= 8)
        p[i] = (uint8_t)v;
}

static void printFrame(const char* prefix, const uint8_t* bytes, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    char line[4 + 3 * 256 + 1];
    size_t at = strlen(prefix);
    memcpy(line, prefix, at);
    for (size_t i = 0; i < n && i < 255; ++i) {
        line[at++] = digits[bytes[i] >> 4];
        line[at++] = digits[bytes[i] & 15];
        line[at++] = ' ';
    }
    line[at++] = '\n';
    fwrite(line, 1, at, stdout);
}

int main(int argc, char** argv)
{
    if (argc < 6) {
        fputs("usage: minimal_send_client HOST PORT CCBID COUNT BYTE...\n", stderr);
        return 2;
    }
    const uint16_t ccbid = (uint16_t)atoi(argv[3]);
    const long count = atol(argv[4]);
    uint8_t frame[12 + 2 + 240];
    size_t payload = 2;
    for (int i = 5; i < argc && payload < 242; ++i)
        frame[12 + payload++] = (uint8_t)strtoul(argv[i], NULL, 16);

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {0};
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)atoi(argv[2]));
    if (fd < 0 || inet_pton(AF_INET, argv[1], &address.sin_addr) != 1 ||
        connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
        perror("minimal_send_client: connect");
        return 1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    static char buffer[1 << 16];
    const int terminal = isatty(1);
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    frame[0] = 0x55;
    frame[1] = 0x55;
    putBig(frame + 2, ccbid, 2);
    putBig(frame + 4, (uint32_t)(12 + payload), 4);
    putBig(frame + 8, 2000, 4);
    frame[12] = 0xEC;
    for (long k = 0; k < count; ++k) {
        frame[13] = (uint8_t)k;
        if (write(fd, frame, 12 + payload) != (ssize_t)(12 + payload)) {
            perror("minimal_send_client: write");
            return 1;
        }
        printFrame("TX->", frame + 12, payload);
        uint8_t reply[12 + 65536];
        if (!readFull(fd, reply, 12)) {
            fputs("minimal_send_client: no reply\n", stderr);
            return 1;
        }
        uint32_t length = (uint32_t)reply[4] << 24 | (uint32_t)reply[5] << 16 | (uint32_t)reply[6] << 8 | reply[7];
        if (length < 14 || length > sizeof reply || !readFull(fd, reply + 12, length - 12) || reply[12] != 0xEC ||
            reply[13] != frame[13]) {
            fputs("minimal_send_client: bad reply\n", stderr);
            return 1;
        }
        printFrame("RX->", reply + 12, length - 12);
        if (terminal)
            fflush(stdout);
    }
    fflush(stdout);
    close(fd);
    return 0;
}
