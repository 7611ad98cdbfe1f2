#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""mutter's side of the harness's compositor session.
  mutter.py serve DIR   started by mutter (-- COMMAND, so with its displays):
                        one remote-desktop session with a screen cast of the
                        virtual monitor tied to it, for as long as it runs
                        (mutter ends both when their D-Bus client goes);
                        writes DIR/env, then takes wlinput's line protocol
                        on the socket DIR/input
  mutter.py relay DIR   wlinput's protocol on stdin and stdout, to the socket
"""
import os, socket, sys, time

RD, SC = 'org.gnome.Mutter.RemoteDesktop', 'org.gnome.Mutter.ScreenCast'
command, folder = sys.argv[1:3]
if command == 'relay':
    s = socket.socket(socket.AF_UNIX)
    s.connect(folder + '/input')
    answers = s.makefile()
    for line in sys.stdin:
        s.sendall(line.encode())
        print(answers.readline(), end='', flush=True)
    sys.exit(0)

from gi.repository import Gio, GLib  # Debian's, for the compositor's user

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
def call(name, path, method, args=None, interface=None):
    return bus.call_sync(name, path, interface or name, method, args, None, 0, -1, None).unpack()

for _ in range(100):  # the services come up with the compositor
    try:
        rd = call(RD, '/org/gnome/Mutter/RemoteDesktop', 'CreateSession')[0]
        break
    except GLib.Error:
        time.sleep(0.1)
id = call(RD, rd, 'Get', GLib.Variant('(ss)', (RD + '.Session', 'SessionId')),
          'org.freedesktop.DBus.Properties')[0]
sc = call(SC, '/org/gnome/Mutter/ScreenCast', 'CreateSession',
          GLib.Variant('(a{sv})', ({'remote-desktop-session-id': GLib.Variant('s', id)},)))[0]
stream = call(SC, sc, 'RecordMonitor', GLib.Variant('(sa{sv})', ('Meta-0', {})),
              SC + '.Session')[0]

def added(connection, sender, path, interface, signal, node):
    with open(folder + '/part', 'w') as env:
        for name in 'DISPLAY', 'WAYLAND_DISPLAY', 'XAUTHORITY', 'XDG_RUNTIME_DIR':
            env.write('%s=%s\n' % (name, os.environ[name]))
        env.write('NODE=%d\n' % node.unpack()[0])
    os.rename(folder + '/part', folder + '/env')
bus.signal_subscribe(SC, SC + '.Stream', 'PipeWireStreamAdded', stream, None, 0, added)
call(RD, rd, 'Start', None, RD + '.Session')

def notify(method, *args):
    signature = {'NotifyPointerMotionAbsolute': '(sdd)', 'NotifyPointerMotionRelative': '(dd)',
                 'NotifyKeyboardKeysym': '(ub)'}[method]
    call(RD, rd, method, GLib.Variant(signature, args), RD + '.Session')

def take(channel, condition):
    line = channel.readline()
    if not line:
        return False
    w = line.split()
    if w[0] == 'a':  # the stream is the whole desktop
        notify('NotifyPointerMotionAbsolute', stream, float(w[1]), float(w[2]))
    elif w[0] == 'm':
        notify('NotifyPointerMotionRelative', float(w[1]), float(w[2]))
    elif w[0] == 'k':
        notify('NotifyKeyboardKeysym', int(w[1]), w[2] == '1')
    channel.write('ok\n')
    channel.flush()
    return True

def accept(channel, condition):
    client = GLib.IOChannel.unix_new(listener.accept()[0].detach())
    client.set_close_on_unref(True)
    GLib.io_add_watch(client, GLib.IO_IN | GLib.IO_HUP, take)
    return True

listener = socket.socket(socket.AF_UNIX)
listener.bind(folder + '/input')
listener.listen()
GLib.io_add_watch(GLib.IOChannel.unix_new(listener.fileno()), GLib.IO_IN, accept)
GLib.MainLoop().run()
