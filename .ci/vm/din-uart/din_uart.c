// SPDX-License-Identifier: GPL-2.0
/*
 * A MIDI port on a 16550 UART for the virtual machine check: one raw MIDI device with one output
 * and one input. Unlike a serial MIDI driver with a transmit buffer of its own, this one takes a
 * single byte from the raw MIDI buffer each time the transmitter holding register is empty, with
 * the FIFO off. So every byte that waits for the wire waits in the raw MIDI buffer, and a raw MIDI
 * drain returns only once the bytes are on the line, as with a USB MIDI interface. The UART's pace
 * is its far end's: when nobody takes its bytes, the transmitter stays full and the writer waits.
 */
#include <linux/init.h>
#include <linux/interrupt.h>
#include <linux/io.h>
#include <linux/ioport.h>
#include <linux/module.h>
#include <linux/platform_device.h>
#include <linux/serial_reg.h>
#include <linux/spinlock.h>
#include <sound/core.h>
#include <sound/initval.h>
#include <sound/rawmidi.h>

MODULE_DESCRIPTION("MIDI on a 16550 UART, one byte per transmit interrupt");
MODULE_LICENSE("GPL");

static long port = 0x2f8;
static int irq = 3;
static int index = SNDRV_DEFAULT_IDX1;
static char *id = SNDRV_DEFAULT_STR1;
module_param_hw(port, long, ioport, 0444);
MODULE_PARM_DESC(port, "I/O port of the UART");
module_param_hw(irq, int, irq, 0444);
MODULE_PARM_DESC(irq, "IRQ of the UART");
module_param(index, int, 0444);
MODULE_PARM_DESC(index, "Index value for the card");
module_param(id, charp, 0444);
MODULE_PARM_DESC(id, "ID string for the card");

/* 31,250 baud from the PC's 115,200-baud clock: a real card has its own MIDI clock. */
#define DIN_DIVISOR 4

struct din_uart {
	spinlock_t lock;
	unsigned long base;
	struct snd_rawmidi_substream *output; /* set while the output is triggered */
	struct snd_rawmidi_substream *input;  /* set while the input is triggered */
	unsigned char ier;
};

static struct platform_device *din_device; /* the card's parent */
static struct snd_card *din_card;

static void din_set_ier(struct din_uart *din, unsigned char ier)
{
	din->ier = ier;
	outb(ier, din->base + UART_IER);
}

/* With the lock held: one byte into an empty transmitter, or the transmit interrupt off when the
 * raw MIDI buffer has nothing more. */
static void din_transmit(struct din_uart *din)
{
	unsigned char byte;

	if (!(inb(din->base + UART_LSR) & UART_LSR_THRE))
		return;
	if (din->output && snd_rawmidi_transmit(din->output, &byte, 1) == 1) {
		outb(byte, din->base + UART_TX);
		if (!(din->ier & UART_IER_THRI))
			din_set_ier(din, din->ier | UART_IER_THRI);
		return;
	}
	if (din->ier & UART_IER_THRI)
		din_set_ier(din, din->ier & ~UART_IER_THRI);
}

static irqreturn_t din_interrupt(int irq_number, void *dev_id)
{
	struct din_uart *din = dev_id;
	int handled = 0;
	unsigned char byte;

	spin_lock(&din->lock);
	while (!(inb(din->base + UART_IIR) & UART_IIR_NO_INT)) {
		handled = 1;
		while (inb(din->base + UART_LSR) & UART_LSR_DR) {
			byte = inb(din->base + UART_RX);
			if (din->input)
				snd_rawmidi_receive(din->input, &byte, 1);
		}
		din_transmit(din);
		/* Reading MSR clears a modem status interrupt, should one ever come. */
		inb(din->base + UART_MSR);
	}
	spin_unlock(&din->lock);
	return IRQ_RETVAL(handled);
}

static int din_open(struct snd_rawmidi_substream *substream)
{
	return 0;
}

static int din_close(struct snd_rawmidi_substream *substream)
{
	return 0;
}

static void din_output_trigger(struct snd_rawmidi_substream *substream, int up)
{
	struct din_uart *din = substream->rmidi->private_data;
	unsigned long flags;

	spin_lock_irqsave(&din->lock, flags);
	din->output = up ? substream : NULL;
	din_transmit(din);
	spin_unlock_irqrestore(&din->lock, flags);
}

static void din_input_trigger(struct snd_rawmidi_substream *substream, int up)
{
	struct din_uart *din = substream->rmidi->private_data;
	unsigned long flags;

	spin_lock_irqsave(&din->lock, flags);
	din->input = up ? substream : NULL;
	spin_unlock_irqrestore(&din->lock, flags);
}

static const struct snd_rawmidi_ops din_output_ops = {
	.open = din_open,
	.close = din_close,
	.trigger = din_output_trigger,
};

static const struct snd_rawmidi_ops din_input_ops = {
	.open = din_open,
	.close = din_close,
	.trigger = din_input_trigger,
};

/* 8 data bits, no parity, one stop bit; FIFO off; OUT2 connects the interrupt line on a PC. */
static void din_uart_start(struct din_uart *din)
{
	outb(UART_LCR_DLAB, din->base + UART_LCR);
	outb(DIN_DIVISOR, din->base + UART_DLL);
	outb(0, din->base + UART_DLM);
	outb(UART_LCR_WLEN8, din->base + UART_LCR);
	outb(0, din->base + UART_FCR);
	outb(UART_MCR_OUT2, din->base + UART_MCR);
	while (inb(din->base + UART_LSR) & UART_LSR_DR)
		inb(din->base + UART_RX);
	inb(din->base + UART_IIR);
	inb(din->base + UART_MSR);
	din_set_ier(din, UART_IER_RDI);
}

static void din_uart_stop(struct din_uart *din)
{
	din_set_ier(din, 0);
	outb(0, din->base + UART_MCR);
}

static void din_free(struct snd_card *card)
{
	struct din_uart *din = card->private_data;

	if (din->base) {
		din_uart_stop(din);
		free_irq(irq, din);
		release_region(din->base, 8);
	}
}

static int __init din_init(void)
{
	struct snd_card *card;
	struct snd_rawmidi *rmidi;
	struct din_uart *din;
	int err;

	din_device = platform_device_register_simple("din_uart", PLATFORM_DEVID_NONE, NULL, 0);
	if (IS_ERR(din_device))
		return PTR_ERR(din_device);
	err = snd_card_new(&din_device->dev, index, id, THIS_MODULE, sizeof(*din), &card);
	if (err < 0) {
		platform_device_unregister(din_device);
		return err;
	}
	din = card->private_data;
	spin_lock_init(&din->lock);
	card->private_free = din_free;
	strscpy(card->driver, "DIN-UART", sizeof(card->driver));
	strscpy(card->shortname, "DIN MIDI", sizeof(card->shortname));
	snprintf(card->longname, sizeof(card->longname), "DIN MIDI at 0x%lx, irq %d", port, irq);

	if (!request_region(port, 8, "DIN MIDI")) {
		err = -EBUSY;
		goto error;
	}
	err = request_irq(irq, din_interrupt, 0, "DIN MIDI", din);
	if (err < 0) {
		release_region(port, 8);
		goto error;
	}
	din->base = port;
	din_uart_start(din);

	err = snd_rawmidi_new(card, "DIN MIDI", 0, 1, 1, &rmidi);
	if (err < 0)
		goto error;
	strscpy(rmidi->name, "DIN MIDI", sizeof(rmidi->name));
	rmidi->info_flags = SNDRV_RAWMIDI_INFO_OUTPUT | SNDRV_RAWMIDI_INFO_INPUT |
			    SNDRV_RAWMIDI_INFO_DUPLEX;
	rmidi->private_data = din;
	snd_rawmidi_set_ops(rmidi, SNDRV_RAWMIDI_STREAM_OUTPUT, &din_output_ops);
	snd_rawmidi_set_ops(rmidi, SNDRV_RAWMIDI_STREAM_INPUT, &din_input_ops);

	err = snd_card_register(card);
	if (err < 0)
		goto error;
	din_card = card;
	return 0;

error:
	snd_card_free(card);
	platform_device_unregister(din_device);
	return err;
}

static void __exit din_exit(void)
{
	snd_card_free(din_card);
	platform_device_unregister(din_device);
}

module_init(din_init);
module_exit(din_exit);
