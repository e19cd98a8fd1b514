"""Scripting of automation objects from Python.

``Dispatch(progid)`` creates an object of any registered automation class and
reaches its members by name through IDispatch; ``DispatchWithEvents`` also
connects a handler for its events. Enumerations of the type libraries of the
objects created so far appear under ``orafon.constants``.

    import orafon
    tts = orafon.Dispatch("Orafon.TextToSpeech")
    tts.Speak("Hello there", orafon.constants.TF_DEFAULT)
"""

import enum as _enum
import threading as _threading

from . import _orafon
from ._classes import CDispatch, class_for as _class_for, events_class as _events_class

__all__ = ["ComError", "CDispatch", "Dispatch", "DispatchWithEvents", "constants", "pump_until",
           "pump_waiting_messages", "register_server", "unregister_server"]


class ComError(Exception):
    """A call failed: hresult is the (signed 32-bit) HRESULT, member the name
    of what was called and description the object's error description."""

    def __init__(self, hresult, member, description):
        hresult = int(hresult) & 0xFFFFFFFF
        self.hresult = hresult - 0x100000000 if hresult & 0x80000000 else hresult
        self.member = member
        self.description = description
        super().__init__(self.hresult, member, description)

    def __str__(self):
        return f"{self.member}: {self.description} (HRESULT 0x{self.hresult & 0xFFFFFFFF:08X})"


_orafon.set_error_type(ComError)


class _Constants:
    """Enumeration members of the type libraries of the objects created so far,
    by name (``constants.FF_MP3``); each enumeration also as an IntEnum
    (``constants.FILEFORMAT.FF_MP3``)."""

    def __init__(self):
        object.__setattr__(self, "_values", {})
        object.__setattr__(self, "_seen", set())
        object.__setattr__(self, "_lock", _threading.Lock())

    def _add_library(self, native, key):
        with self._lock:
            if key in self._seen:
                return
            self._seen.add(key)
        for enum_name, _doc, members in native.enums():
            if not members:
                continue
            for name, value, _ in members:
                self._values.setdefault(name, value)
            if enum_name and all(isinstance(v, int) for _, v, _ in members):
                self._values.setdefault(enum_name, _enum.IntEnum(enum_name, [(n, v) for n, v, _ in members]))

    def __getattr__(self, name):
        try:
            return self._values[name]
        except KeyError:
            raise AttributeError(f"no constant named '{name}' in the type libraries of the objects "
                                 f"created so far", name=name, obj=self) from None

    def __setattr__(self, name, value):
        raise AttributeError("orafon.constants is read-only")

    def __dir__(self):
        return sorted(self._values)

    def __repr__(self):
        return f"<orafon.constants: {len(self._values)} names>"


constants = _Constants()


def _wrap_new(native, cls, interrupt):
    description = native.describe()
    if description is not None:
        constants._add_library(native, description["iid"] or description["name"])
    if interrupt is not None:
        native.set_interrupt_member(native.id_of(interrupt))
    obj = cls.__new__(cls)
    CDispatch.__init__(obj, native)
    return obj


def Dispatch(progid, interrupt=None):
    """Creates an object of the class registered under progid (or a
    "{CLSID}") and returns it with its members as attributes.

    interrupt names a member without arguments that Ctrl-C during a
    synchronous call invokes (for instance one that stops the work); without
    it Ctrl-C ends the object's wait and KeyboardInterrupt is raised."""
    native = _orafon.create(progid)
    return _wrap_new(native, _class_for(native), interrupt)


def DispatchWithEvents(progid, handler_class, interrupt=None):
    """As Dispatch, and connects the object's events to methods of
    handler_class named as the events. The returned object is an instance of
    both; its events are called on this thread while it pumps messages
    (pump_until, or inside a synchronous call)."""
    import weakref

    native = _orafon.create(progid)
    cls = _events_class(handler_class, _class_for(native))
    obj = _wrap_new(native, cls, interrupt)
    object.__setattr__(obj, "_events_", True)
    if handler_class.__init__ is not object.__init__:
        handler_class.__init__(obj)
    native.advise(weakref.ref(obj))
    return obj


def pump_until(pred, timeout=None):
    """Runs this thread's messages (and so the events of its objects) until
    pred() is true or timeout seconds pass. Returns whether pred() became true."""
    return _orafon.pump_until(pred, timeout)


def pump_waiting_messages():
    """Runs the messages already waiting on this thread and returns."""
    _orafon.pump_until(lambda: True, 0)


def register_server(path):
    """Registers the automation classes of the module file at path (what
    regsvr32 does), in the registry of $ORAFON_REGISTRY or the user's default."""
    _orafon.register_server(str(path))


def unregister_server(path):
    """Removes the registration of the module file at path."""
    _orafon.unregister_server(str(path))
