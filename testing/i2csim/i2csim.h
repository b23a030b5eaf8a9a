// A simulated i2c-dev adapter for end-to-end tests of the Linux build: a
// library preloaded into the real, unmodified program (LD_PRELOAD) that
// answers open, ioctl and close for /dev/i2c-N nodes and serves the
// adapters' sysfs names, from a directory of state files.
//
// I2CSIM_DIR names the directory; without it the library does nothing but
// fake time where asked. I2CSIM_FAKE_TIME=1: sleeps on the monotonic clock
// return at once and move that clock on by what they would have waited.
// Each adapter N is a subdirectory i2c-N/, which also stands in for
// /sys/class/i2c-dev/i2c-N/ (and /sys/bus/i2c/devices/i2c-N/):
//   name        the adapter's name, as sysfs gives it
//   card.txt    the preset the EEPROM files are made from when missing:
//               reflash (default), correct, other, wrong-vendor; "none":
//               no card, nothing answers
//   board.bin (256 bytes), dsp.bin (32768), chdec.bin (256 registers)
//               held open while the program runs; every write transfer
//               writes the bytes it changed, so a test sees them at once
//   fault.txt   read at the first open, one rule a line:
//     fail <n> [errno]      I2C_RDWR call n (1-based, per process) fails
//                           with errno (a number or a name: EIO, ENXIO,
//                           EREMOTEIO, ETIMEDOUT, EAGAIN; default EIO) and
//                           moves nothing
//     write-protect board   writes to the board EEPROM are acknowledged and
//                           not stored (also: dsp, chdec)
//     smbus-only            I2C_FUNCS offers SMBus only; I2C_RDWR fails
//                           with EOPNOTSUPP
//     no-access             opening the node fails with EACCES
//   transfers.log  appended, one line per I2C_RDWR call:
//     <us> <n> <R|W> <addr> sub=[<bytes>] len=<n> data=[<bytes>] rc=<0|-errno>
//     (<addr> the 7-bit bus address, <us> CLOCK_MONOTONIC microseconds,
//     stamped when the call arrives) and notes "<us> # <text>" for opens,
//     closes, I2C_FUNCS and refusals.
//
// The devices: the board EEPROM at 0x50 (a write takes one sub-address
// byte; a read the write message's one or two bytes, low first), the DSP
// EEPROM at 0x51 (two bytes, high first, answering only while the channel
// decoder holds its gate open) and the channel decoder at 0x08 (one
// register number). Other addresses do not answer (ENXIO).
#pragma once
