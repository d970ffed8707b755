/* The floor for one fresh thread per connection: accepts on 127.0.0.1:PORT, starts a detached
 * thread for every connection, which reads the request head and answers with FILE, then closes.
 * No parsing, no routing, no limits: bench/http measures Tarnivo's own path against it.
 *   fresh_thread_server PORT FILE */
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static char *answer;
static size_t answer_size;

static void *serve(void *arg) {
    int fd = (int)(long)arg;
    char request[4096];
    size_t got = 0;
    ssize_t n;
    while (got < sizeof request - 1 && (n = read(fd, request + got, sizeof request - 1 - got)) > 0) {
        got += (size_t)n;
        request[got] = 0;
        if (strstr(request, "\r\n\r\n"))
            break;
    }
    for (size_t sent = 0; sent < answer_size && (n = write(fd, answer + sent, answer_size - sent)) > 0;)
        sent += (size_t)n;
    close(fd);
    return NULL;
}

int main(int argc, char **argv) {
    if (argc != 3)
        return 2;
    FILE *file = fopen(argv[2], "rb");
    if (!file)
        return 1;
    char body[1 << 16];
    size_t size = fread(body, 1, sizeof body, file);
    fclose(file);
    answer = malloc(size + 256);
    answer_size = (size_t)sprintf(answer, "HTTP/1.0 200 OK\r\nContent-Length: %zu\r\n"
                                          "Content-Type: text/html\r\n\r\n", size);
    memcpy(answer + answer_size, body, size);
    answer_size += size;
    int listener = socket(AF_INET, SOCK_STREAM, 0), on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in address = {.sin_family = AF_INET, .sin_port = htons((unsigned short)atoi(argv[1])),
                                  .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
    if (bind(listener, (struct sockaddr *)&address, sizeof address) || listen(listener, 511))
        return 1;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    for (;;) {
        int fd = accept(listener, NULL, NULL);
        pthread_t thread;
        if (fd >= 0 && pthread_create(&thread, &attributes, serve, (void *)(long)fd) != 0)
            close(fd);
    }
}
