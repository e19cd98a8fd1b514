"""Python classes made from an automation object's type information.

Each interface becomes a class of its own (cached by interface id): its
properties are Python properties and its methods are functions with the
argument names, types and help strings of the type library, so that dir()
and help() show what the object offers. Every call still resolves the name
through IDispatch::GetIDsOfNames and goes through IDispatch::Invoke.
"""

import inspect
import threading
import weakref

from . import _orafon

METHOD = _orafon.DISPATCH_METHOD
GET = _orafon.DISPATCH_PROPERTYGET
PUT = _orafon.DISPATCH_PROPERTYPUT
PUTREF = _orafon.DISPATCH_PROPERTYPUTREF

_INTERNAL = ("_oleobj_", "_ids_", "_events_")


def _unwrap(value):
    return value._oleobj_ if isinstance(value, CDispatch) else value


def wrap(value):
    """A native object returned by a call, as an instance of its class."""
    if isinstance(value, _orafon.Object):
        return class_for(value)(value)
    return value


def _bind(name, params, args, kwargs):
    """The arguments in parameter order; TypeError as Python gives it."""
    if len(args) > len(params):
        raise TypeError(f"{name}() takes {len(params)} argument{'s' if len(params) != 1 else ''} "
                        f"but {len(args)} {'were' if len(args) != 1 else 'was'} given")
    values = list(args)
    missing = object()
    values += [missing] * (len(params) - len(values))
    lowered = {p[0].lower(): i for i, p in enumerate(params)}
    for key, value in kwargs.items():
        index = lowered.get(key.lower())
        if index is None:
            raise TypeError(f"{name}() got an unexpected keyword argument '{key}'")
        if values[index] is not missing:
            raise TypeError(f"{name}() got multiple values for argument '{key}'")
        values[index] = value
    for i, (pname, _ptype, optional) in enumerate(params):
        if values[i] is missing and not optional:
            raise TypeError(f"{name}() missing required argument '{pname}' (position {i + 1})")
    while values and values[-1] is missing:
        values.pop()
    if any(v is missing for v in values):
        gap = params[values.index(missing)][0]
        raise TypeError(f"{name}() cannot leave out '{gap}' while giving a later argument")
    return tuple(values)


class CDispatch:
    """An automation object reached through IDispatch.

    Attribute names are resolved with GetIDsOfNames (case-insensitive, as
    the platform resolves them); values convert to and from VARIANT.
    """

    _members_ = {}  # lower-case name -> {"kinds": set, "params": [...]}
    _interface_ = "IDispatch"

    def __init__(self, native):
        object.__setattr__(self, "_oleobj_", native)
        object.__setattr__(self, "_ids_", {})
        object.__setattr__(self, "_events_", False)

    # -- calls -------------------------------------------------------------
    def _id(self, name):
        ids = self._ids_
        dispid = ids.get(name)
        if dispid is None:
            try:
                dispid = self._oleobj_.id_of(name)
            except AttributeError:
                raise AttributeError(f"'{self._interface_}' object has no attribute '{name}'",
                                     name=name, obj=self) from None
            ids[name] = dispid
        return dispid

    def _invoke(self, name, flags, args):
        native = self._oleobj_
        dispid = self._id(name)
        return wrap(native.invoke(dispid, flags, tuple(_unwrap(a) for a in args), name))

    def _call(self, name, params, args, kwargs, flags=METHOD):
        return self._invoke(name, flags, _bind(name, params, args, kwargs))

    # -- attributes the type library does not spell the same way -------------
    def __getattr__(self, name):
        if name.startswith("__") or name in _INTERNAL:
            raise AttributeError(name)
        self._id(name)
        info = self._members_.get(name.lower())
        if info is None:
            # No type information: a property if reading it works.
            try:
                return self._invoke(name, GET, ())
            except Exception:
                return _DynamicMethod(self, name)
        canonical = info["name"]
        if "method" in info["kinds"] or info["params"]:
            return getattr(self, canonical) if canonical != name else _DynamicMethod(self, name)
        return self._invoke(canonical, GET, ())

    def __setattr__(self, name, value):
        if isinstance(getattr(type(self), name, None), property) or name.startswith("_") or \
                name in self.__dict__:
            object.__setattr__(self, name, value)
            return
        if self._events_ and name.lower() not in self._members_ and hasattr(type(self), name):
            object.__setattr__(self, name, value)  # an attribute of the handler class
            return
        try:
            self._id(name)
        except AttributeError:
            if self._events_:
                object.__setattr__(self, name, value)  # state of the event handler
                return
            raise
        info = self._members_.get(name.lower())
        if info is not None:
            if not info["kinds"] & {"put", "putref", "var"}:
                what = "a method" if "method" in info["kinds"] else "a read-only property"
                raise AttributeError(f"'{info['name']}' of '{self._interface_}' is {what}; it cannot be set")
            flags = PUTREF if "put" not in info["kinds"] and "putref" in info["kinds"] else PUT
        else:
            flags = PUTREF if isinstance(value, CDispatch) else PUT
        self._invoke(name, flags, (value,))

    # -- lifetime ------------------------------------------------------------
    def _release(self):
        """Disconnects the events and releases the object; later calls raise ComError."""
        self._oleobj_.release()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._release()
        return False

    def __eq__(self, other):
        return isinstance(other, CDispatch) and self._oleobj_.same_object(other._oleobj_)

    __hash__ = object.__hash__

    def __repr__(self):
        state = " (released)" if self._oleobj_.released else ""
        return f"<orafon object {self._interface_}{state}>"


class _DynamicMethod:
    """A member known only by name: called as a method."""

    def __init__(self, owner, name):
        self._owner = owner
        self._name = name

    def __call__(self, *args):
        return self._owner._invoke(self._name, METHOD | GET, args)

    def __repr__(self):
        return f"<method {self._name} of {self._owner!r}>"


def _signature(params, returns):
    parameters = [inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)]
    for pname, ptype, optional in params:
        parameters.append(inspect.Parameter(pname, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                                            default=None if optional else inspect.Parameter.empty,
                                            annotation=ptype))
    return inspect.Signature(parameters, return_annotation=returns)


def _method(interface, member, flags=METHOD):
    name, params = member["name"], list(member["params"])

    def call(self, *args, **kwargs):
        return self._call(name, params, args, kwargs, flags)

    call.__name__ = name
    call.__qualname__ = f"{interface}.{name}"
    call.__doc__ = member["doc"] or None
    call.__signature__ = _signature(params, member["returns"])
    return call


def _property(interface, name, getter, setter):
    def fget(self):
        return self._invoke(name, GET, ())

    fset = None
    if setter is not None:
        flags = PUT if setter["kind"] in ("put", "var") else PUTREF

        def fset(self, value):
            self._invoke(name, flags, (value,))

    described = getter or setter
    doc = described["doc"] or name
    access = "" if setter is not None else ", read-only"
    return property(fget, fset, None, f"{doc} ({described['returns']}{access})")


def _class_namespace(description):
    interface = description["name"] or "IDispatch"
    grouped = {}
    for member in description["members"]:
        grouped.setdefault(member["name"], []).append(member)
    namespace = {"_interface_": interface, "__module__": "orafon"}
    members = {}
    for name, entries in grouped.items():
        kinds = {m["kind"] for m in entries}
        if "var" in kinds:
            kinds.add("get")
        getter = next((m for m in entries if m["kind"] in ("get", "var")), None)
        setter = next((m for m in entries if m["kind"] in ("put", "putref", "var")), None)
        method = next((m for m in entries if m["kind"] == "method"), None)
        params = getter["params"] if getter else []
        members[name.lower()] = {"name": name, "kinds": kinds, "params": params}
        if name.startswith("_") or name in vars(CDispatch):
            continue  # reachable through __getattr__ only
        if method is not None:
            namespace[name] = _method(interface, method)
        elif getter is not None and getter["params"]:
            namespace[name] = _method(interface, getter, GET)
        else:
            namespace[name] = _property(interface, name, getter, setter)
    namespace["_members_"] = members
    doc = description["doc"]
    namespace["__doc__"] = (f"{interface}: {doc}\n\n" if doc else f"{interface}\n\n") + \
        "An automation object; its members come from its type library."
    return interface, namespace


_classes = {}
_classes_lock = threading.Lock()
_event_classes = weakref.WeakKeyDictionary()


def class_for(native):
    """The class of an object's interface, made once per interface."""
    description = native.describe()
    if description is None:
        return CDispatch
    key = description["iid"] or description["name"]
    with _classes_lock:
        cls = _classes.get(key)
        if cls is None:
            name, namespace = _class_namespace(description)
            cls = type(name, (CDispatch,), namespace)
            _classes[key] = cls
    return cls


def events_class(handler_class, base):
    """A class whose instances are both the object and its event handler."""
    by_base = _event_classes.setdefault(handler_class, {})
    cls = by_base.get(base)
    if cls is None:
        cls = type(handler_class.__name__, (handler_class, base),
                   {"__module__": handler_class.__module__,
                    "__doc__": handler_class.__doc__ or base.__doc__})
        by_base[base] = cls
    return cls
