#!/usr/bin/python3
"""Asks udisks, on the system bus, what the program asks it.

udisks-probe.py list
    One line per block device udisks lists (ObjectManager.GetManagedObjects):
    OBJECT-PATH DEVICE SIZE, and loop=BACKING-FILE for a loop device.
udisks-probe.py open DEVICE
    Opens DEVICE read-only through Block.OpenDevice ("r"), reads its first
    sector and tries to write through the descriptor. Prints what it saw.
    Exits 0 when the descriptor is read-only and sector 0 ends in 55 AA,
    3 when udisks refuses (printing "refused: ERROR-NAME: MESSAGE"), 1 else.
"""
import errno
import fcntl
import os
import sys

import dbus

UDISKS = 'org.freedesktop.UDisks2'
BLOCK = UDISKS + '.Block'
LOOP = UDISKS + '.Loop'


def text(ay):
    return bytes(ay).rstrip(b'\0').decode()


def block_devices(bus):
    root = bus.get_object(UDISKS, '/org/freedesktop/UDisks2')
    objects = root.GetManagedObjects(dbus_interface='org.freedesktop.DBus.ObjectManager')
    for path, interfaces in sorted(objects.items()):
        if BLOCK in interfaces:
            yield str(path), interfaces


def list_devices(bus):
    for path, interfaces in block_devices(bus):
        block = interfaces[BLOCK]
        line = f'{path} {text(block["Device"])} {int(block["Size"])}'
        if LOOP in interfaces:
            line += f' loop={text(interfaces[LOOP]["BackingFile"])}'
        print(line)
    return 0


def open_device(bus, device):
    paths = [path for path, interfaces in block_devices(bus)
             if text(interfaces[BLOCK]['Device']) == device]
    if not paths:
        print(f'udisks does not list {device}')
        return 1
    block = dbus.Interface(bus.get_object(UDISKS, paths[0]), BLOCK)
    options = dbus.Dictionary({'auth.no_user_interaction': dbus.Boolean(False)}, signature='sv')
    try:
        fd = block.OpenDevice('r', options, timeout=30).take()
    except dbus.exceptions.DBusException as error:
        print(f'refused: {error.get_dbus_name()}: {error.get_dbus_message()}')
        return 3
    try:
        read_only = fcntl.fcntl(fd, fcntl.F_GETFL) & os.O_ACCMODE == os.O_RDONLY
        sector = os.pread(fd, 512, 0)
        try:
            os.write(fd, b'\0')
            written = 'write: succeeded'
        except OSError as error:
            written = f'write: {errno.errorcode[error.errno]}'
    finally:
        os.close(fd)
    signature = sector[510:512].hex() if len(sector) == 512 else f'{len(sector)} bytes read'
    print(f'uid {os.getuid()} opened {device} ({paths[0]}):'
          f' {"read-only" if read_only else "NOT read-only"}, sector 0 ends {signature}, {written}')
    return 0 if read_only and signature == '55aa' and written == 'write: EBADF' else 1


def main(argv):
    bus = dbus.SystemBus()
    if argv[1:] == ['list']:
        return list_devices(bus)
    if len(argv) == 3 and argv[1] == 'open':
        return open_device(bus, argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
