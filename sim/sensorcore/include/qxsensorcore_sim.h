/*
 * Control interface of the simulated sensor library (tests and benchmarks
 * only). The simulation keeps a list of attached sensors; each one has a
 * calibration EEPROM, a register file and a finger that can be placed,
 * pressed, lifted, live or fake.
 */
#ifndef QXSENSORCORE_SIM_H
#define QXSENSORCORE_SIM_H

#ifdef __cplusplus
extern "C" {
#endif

#define QXSIM_RAW_WIDTH 1600
#define QXSIM_RAW_HEIGHT 1200
#define QXSIM_EEPROM_SIZE 256
#define QXSIM_MAX_REGISTER 128

/* EEPROM blocks, for qxsim_corrupt_block. */
enum {
    QXSIM_BLOCK_DISTORTION = 0, /* bytes 0..29, word checksum at 28 */
    QXSIM_BLOCK_PERSPECTIVE,    /* bytes 38..47, word checksum at 46 */
    QXSIM_BLOCK_EXPOSURE,       /* bytes 48..59, word checksum at 58 */
    QXSIM_BLOCK_LED,            /* bytes 112..121, byte checksum at 121 */
    QXSIM_BLOCK_COUNT
};

/* How a finger answers the anti-fake light. */
enum {
    QXSIM_LIVE = 0,
    QXSIM_FAKE_SPREAD,  /* light spreads evenly: fails the far-block test */
    QXSIM_FAKE_OPAQUE,  /* light does not travel: fails the middle-block test */
    QXSIM_FAKE_BOTH     /* fails both */
};

typedef struct QXSimFinger {
    int present;         /* register 1 non-zero and ridges in the frame */
    int finger_id;       /* selects one of several distinct fingers */
    int contrast;        /* ridge amplitude of a fully pressed finger, 0..120 */
    int press_frames;    /* frames over which contrast rises from 10% to full */
    int lift_after;      /* frames read before the finger is lifted; <0 never */
    int liveness;        /* QXSIM_LIVE or a QXSIM_FAKE_* kind */
    int dry_patch;       /* flattens the left quarter of the window */
    int device_quality;  /* quality reported by device-side detection */
} QXSimFinger;

typedef struct QXSimStats {
    int opens, closes, reboots;
    int image_reads;          /* GetImage calls */
    int detect_calls;         /* DetImageAndQuality calls */
    int register_reads[QXSIM_MAX_REGISTER];
    int register_writes[QXSIM_MAX_REGISTER];
    int camera_writes;
    int eeprom_block_reads, eeprom_byte_reads;
    double render_ms;         /* wall time spent generating frames */
} QXSimStats;

/* Removes every sensor and clears all state. */
void qxsim_reset(void);

/* Attaches a sensor with a valid default calibration; returns its index.
 * hw0/hw1 are the two hardware-version bytes of register 85
 * (hw0 > 4 or hw1 > 1: the device processes images itself). */
int qxsim_add_sensor(int vid, int pid, int hw0, int hw1);
int qxsim_sensor_count(void);

/* The sensor's EEPROM, writable; the sensor rereads its geometry at open. */
unsigned char *qxsim_eeprom(int dev);
void qxsim_fix_checksums(int dev);
void qxsim_corrupt_block(int dev, int block);
/* Caps what the block read returns (256 = all, 0 = block read unsupported),
 * and the address from which byte reads fail (256 = never). */
void qxsim_set_eeprom_limits(int dev, int block_count, int byte_fail_from);

void qxsim_set_strings(int dev, const char *model, const char *manufacturer, const char *serial);
void qxsim_set_hw_version(int dev, int hw0, int hw1);

QXSimFinger qxsim_default_finger(void);
void qxsim_set_finger(int dev, const QXSimFinger *finger);
/* How one placement of the finger differs from the upright, centred, evenly
 * pressed reference: the same finger presented again lands a little shifted
 * and turned, pressed harder or lighter, sometimes only partly on the glass. */
typedef struct QXSimImpression {
    double shift_x, shift_y; /* pixels of the nominal image; positive = right, down */
    double rotation_deg;     /* about the window centre; positive turns clockwise on screen */
    double pressure;         /* 1 normal; below 1 thinner ridges, fainter, smaller contact; above 1 wider */
    double contact_cut;      /* 0 whole finger; up to 0.5: that share of the window's extent lifted */
    double cut_angle_deg;    /* direction from the window centre towards the lifted side */
    double distortion;       /* elastic skin stretch in pixels at the window edge */
} QXSimImpression;

/* The reference placement (what a sensor shows until told otherwise). */
QXSimImpression qxsim_identity_impression(void);
/* A realistic random placement, the same for the same seed: shift within
 * +-40 px, rotation within +-15 degrees, pressure 0.7..1.4, distortion up to
 * 4 px, and on about one placement in three part of the finger lifted. */
QXSimImpression qxsim_random_impression(unsigned seed);
/* Placement of the sensor's finger from the next frame on; null = reference. */
void qxsim_set_impression(int dev, const QXSimImpression *impression);

/* Frames read since the finger was placed. */
int qxsim_frames_since_placed(int dev);

/* A lost device answers every call with -99998; an unresponsive one reads
 * zero from register 85. Open failures make QXFPI_Open return null. */
void qxsim_set_lost(int dev, int lost);
void qxsim_set_unresponsive(int dev, int unresponsive);
/* The device is lost once this many more images have been read (<0 never). */
void qxsim_set_lost_after(int dev, int images);
void qxsim_set_open_fails(int dev, int fails);

QXSimStats qxsim_stats(int dev);
void qxsim_clear_stats(int dev);
/* Last value written to a device register, -1 if never written. */
int qxsim_register(int dev, int reg);
/* Last value written to a camera register, -1 if never written. */
int qxsim_camera_register(int dev, int reg);
/* Register writes in order; returns the number stored (up to capacity). */
int qxsim_write_log(int dev, int *regs, int *values, int capacity);
/* Illumination (register 21) at each image read since the finger was placed. */
int qxsim_light_log(int dev, int *lights, int capacity);
/* Caps the bytes each image read delivers (0 = no cap). */
void qxsim_set_image_limit(int dev, int max_bytes);
/* Makes each image read take at least this long (0 = as fast as possible). */
void qxsim_set_frame_delay_ms(int dev, int ms);

/* After `skip` more raw image reads, the next `count` deliver only `bytes`
 * bytes (a frame cut short on the bus); the rest of the buffer is untouched. */
void qxsim_set_short_frames(int dev, int skip, int count, int bytes);

/* Connected open connections (for leak checks). */
int qxsim_open_connections(void);

/* Upright rendering of the sensor's current finger, fully pressed, at w x h
 * (the image the correction should recover), grey, row-major. */
void qxsim_render_upright(int dev, int w, int h, unsigned char *out);

#ifdef __cplusplus
}
#endif

#endif
