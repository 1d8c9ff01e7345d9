/* Holds a hardware sequencer port's output: connects a port of its own to CLIENT:PORT, as a
 * program that plays into that port does, so that the sequencer's bridge keeps the card's raw MIDI
 * output open. Its own port may not be subscribed to by others, so no program lists it as a
 * device. Prints "holding" once connected and waits until it is killed.
 * Usage: seq-hold CLIENT:PORT */
#include <alsa/asoundlib.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char **argv) {
    snd_seq_t *seq;
    snd_seq_addr_t target;
    int port;
    if (argc != 2) {
        fprintf(stderr, "usage: seq-hold CLIENT:PORT\n");
        return 2;
    }
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) {
        fprintf(stderr, "seq-hold: no sequencer\n");
        return 1;
    }
    snd_seq_set_client_name(seq, "DIN hold");
    /* Readable by its own client only: the subscription below needs no more. */
    port = snd_seq_create_simple_port(seq, "hold", SND_SEQ_PORT_CAP_READ,
                                      SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0 || snd_seq_parse_address(seq, &target, argv[1]) < 0 ||
        snd_seq_connect_to(seq, port, target.client, target.port) < 0) {
        fprintf(stderr, "seq-hold: cannot connect to %s\n", argv[1]);
        return 1;
    }
    printf("holding %s\n", argv[1]);
    fflush(stdout);
    for (;;) pause();
}
