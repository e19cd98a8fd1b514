"""The package against the small test class Orafon.PyTest: nothing here is
specific to the text-to-speech object."""

import sys
import threading

import pytest

import orafon

DISP_E_TYPEMISMATCH = -2147352571
DISP_E_BADPARAMCOUNT = -2147352562
CO_E_CLASSSTRING = -2147221005
CO_E_OBJNOTCONNECTED = -2147220995
RPC_E_WRONG_THREAD = -2147417842
E_INVALIDARG = -2147024809
FAIL_CODE = -2147220991  # the test class's own failure code, 0x80040201


@pytest.mark.parametrize("name, value", [
    ("Value", 0), ("Value", -2147483648), ("Value", 2147483647),
    ("Name", ""), ("Name", "plain"), ("Name", "accents é and a 🎵 beyond the BMP"),
    ("Ratio", 0.0), ("Ratio", -1.5e300),
    ("Enabled", True), ("Enabled", False),
    ("Stored", None), ("Stored", 7), ("Stored", 2.25), ("Stored", "text"), ("Stored", True),
    ("Stored", 2 ** 40),
])
def test_property_values_round_trip_with_their_python_type(automation, name, value):
    setattr(automation, name, value)
    got = getattr(automation, name)
    assert got == value
    assert type(got) is type(value)


# True is VARIANT_TRUE, -1, as automation converts it.
@pytest.mark.parametrize("written, expected", [(3, 3.0), (True, -1.0), ("2.5", 2.5)])
def test_values_convert_to_the_member_type(automation, written, expected):
    automation.Ratio = written
    assert automation.Ratio == expected
    assert isinstance(automation.Ratio, float)


def test_methods_return_their_results(automation):
    assert automation.Add(2, 40) == 42
    assert automation.Add(nSecond=1, nFirst=2) == 3
    assert automation.Join("ab", "cd") == "abcd"


def test_names_resolve_case_insensitively(automation):
    automation.value = 11
    assert automation.VALUE == 11
    assert automation.add(1, 1) == 2
    assert automation.JOIN("x", "y") == "xy"


def test_constants_come_from_the_type_library(automation):
    automation.Shade = orafon.constants.SH_DARK
    assert automation.Shade == 2 == orafon.constants.SHADE.SH_DARK
    assert orafon.constants.SH_LIGHT == 1
    with pytest.raises(AttributeError, match="SH_PURPLE"):
        orafon.constants.SH_PURPLE


def test_dir_lists_members_of_the_type_library(automation):
    names = dir(automation)
    for member in ("Value", "Name", "Ratio", "Enabled", "Stored", "Shade", "Add", "Join", "Fail", "Ring",
                   "PostRing", "RingCount"):
        assert member in names


def test_help_shows_arguments_types_and_help_strings(automation):
    import pydoc

    text = pydoc.render_doc(automation, renderer=pydoc.plaintext)
    assert "A small automation object for the Python module's tests" in text
    assert "Add(self, nFirst: 'int', nSecond: 'int') -> 'int'" in text
    assert "Adds two numbers" in text
    assert "Join(self, strFirst: 'str', strSecond: 'str') -> 'str'" in text
    assert "A stored shade (SHADE)" in text
    assert "How many rings were fired (int, read-only)" in text


def test_unknown_member_is_an_attribute_error_naming_it(automation):
    with pytest.raises(AttributeError, match="'NoSuchMember'") as caught:
        automation.NoSuchMember
    assert caught.value.name == "NoSuchMember"
    with pytest.raises(AttributeError, match="'Nope'"):
        automation.Nope = 1
    with pytest.raises(AttributeError, match="'Nope'"):
        automation.Nope()


def test_read_only_property_and_methods_cannot_be_set(automation):
    with pytest.raises(AttributeError):
        automation.RingCount = 3
    with pytest.raises(AttributeError, match="method"):
        automation.add = 3


@pytest.mark.parametrize("call, message", [
    (lambda o: o.Add(1), "missing required argument 'nSecond'"),
    (lambda o: o.Add(1, 2, 3), "takes 2 arguments but 3 were given"),
    (lambda o: o.Add(1, nThird=2), "unexpected keyword argument 'nThird'"),
    (lambda o: o.Add(1, nFirst=2), "multiple values for argument 'nFirst'"),
    (lambda o: o.Add([1], 2), "argument 1: cannot pass a value of type list"),
    (lambda o: o.Join("a", object()), "argument 2: cannot pass a value of type object"),
])
def test_wrong_argument_counts_and_python_types_are_type_errors(automation, call, message):
    with pytest.raises(TypeError, match=message):
        call(automation)


def test_value_the_object_cannot_convert_is_a_com_error_with_its_code(automation):
    with pytest.raises(orafon.ComError) as caught:
        automation.Add("one", 2)
    error = caught.value
    assert error.hresult == DISP_E_TYPEMISMATCH
    assert error.member == "Add"
    assert "argument 1" in error.description
    with pytest.raises(orafon.ComError) as caught:
        automation.Value = "many"
    assert caught.value.hresult == DISP_E_TYPEMISMATCH


def test_integer_beyond_64_bits_is_refused(automation):
    with pytest.raises(ValueError, match="64 bits"):
        automation.Stored = 2 ** 70


def test_failure_carries_hresult_member_and_error_description(automation):
    with pytest.raises(orafon.ComError) as caught:
        automation.Fail("the widget is broken")
    error = caught.value
    assert error.hresult == FAIL_CODE
    assert error.member == "Fail"
    assert error.description == "the widget is broken"
    assert "0x80040201" in str(error)
    # A failure does not leave its description to the next call.
    with pytest.raises(orafon.ComError) as caught:
        automation.Shade = 9
    assert caught.value.hresult == E_INVALIDARG
    assert caught.value.description == "Shade must be SH_LIGHT or SH_DARK"


def test_unregistered_progid_is_a_com_error():
    with pytest.raises(orafon.ComError) as caught:
        orafon.Dispatch("Orafon.NotRegistered")
    assert caught.value.hresult == CO_E_CLASSSTRING
    assert "Orafon.NotRegistered" in str(caught.value)


def test_object_can_be_created_by_clsid():
    obj = orafon.Dispatch("{6B1F3C52-0D0E-4C7A-9E61-3A7B8C2D4E02}")
    assert obj.Add(1, 2) == 3


def test_calls_after_release_raise(automation):
    automation.Value = 1
    automation._release()
    for use in (lambda: automation.Value, lambda: automation.Add(1, 2), lambda: setattr(automation, "Value", 2),
                lambda: automation.value):
        with pytest.raises(orafon.ComError) as caught:
            use()
        assert caught.value.hresult == CO_E_OBJNOTCONNECTED
    assert "released" in repr(automation)
    automation._release()  # twice is harmless


def test_context_manager_releases():
    with orafon.Dispatch("Orafon.PyTest") as obj:
        obj.Value = 3
    with pytest.raises(orafon.ComError):
        obj.Value


def test_object_from_another_thread_is_refused(automation):
    errors = []

    def use():
        try:
            automation.Value
        except orafon.ComError as error:
            errors.append(error.hresult)

    worker = threading.Thread(target=use)
    worker.start()
    worker.join()
    assert errors == [RPC_E_WRONG_THREAD]


def test_objects_pass_as_arguments(automation):
    other = orafon.Dispatch("Orafon.PyTest")
    automation.Stored = other
    back = automation.Stored
    assert back == other
    back.Value = 5
    assert other.Value == 5


class Recorder:
    def __init__(self):
        self.calls = []

    def OnRing(self, index):
        self.calls.append(("ring", index))

    def OnDone(self):
        self.calls.append(("done",))


def test_events_inside_a_call_arrive_in_order():
    obj = orafon.DispatchWithEvents("Orafon.PyTest", Recorder)
    obj.Ring(3)
    assert obj.calls == [("ring", 0), ("ring", 1), ("ring", 2), ("done",)]
    assert obj.RingCount == 3


def test_queued_events_arrive_while_the_thread_pumps():
    obj = orafon.DispatchWithEvents("Orafon.PyTest", Recorder)
    obj.PostRing(4)
    assert obj.calls == []  # nothing before the queue runs
    assert orafon.pump_until(lambda: ("done",) in obj.calls, timeout=10)
    assert obj.calls == [("ring", 0), ("ring", 1), ("ring", 2), ("ring", 3), ("done",)]


def test_pump_until_returns_false_at_the_timeout():
    obj = orafon.DispatchWithEvents("Orafon.PyTest", Recorder)
    assert orafon.pump_until(lambda: obj.calls, timeout=0.05) is False


def test_handler_without_a_method_for_an_event_ignores_it():
    class OnlyDone:
        done = False

        def OnDone(self):
            self.done = True

    obj = orafon.DispatchWithEvents("Orafon.PyTest", OnlyDone)
    obj.Ring(2)
    assert obj.done


def test_handler_that_raises_is_reported_and_the_call_goes_on(monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda info: reported.append(info))

    class Failing(Recorder):
        def OnRing(self, index):
            super().OnRing(index)
            raise ValueError(f"handler failed on {index}")

    obj = orafon.DispatchWithEvents("Orafon.PyTest", Failing)
    obj.Ring(2)
    assert obj.calls == [("ring", 0), ("ring", 1), ("done",)]
    assert [str(r.exc_value) for r in reported] == ["handler failed on 0", "handler failed on 1"]
    assert all("OnRing" in str(r.object) for r in reported)
    assert obj.Add(1, 1) == 2


def test_handler_gets_the_object_and_keeps_its_own_state():
    class Counting:
        def __init__(self):
            self.rings = 0

        def OnRing(self, index):
            self.rings += 1
            self.seen_value = self.Value

    obj = orafon.DispatchWithEvents("Orafon.PyTest", Counting)
    obj.Value = 9
    obj.Ring(2)
    assert obj.rings == 2
    assert obj.seen_value == 9


def test_released_events_object_is_disconnected():
    obj = orafon.DispatchWithEvents("Orafon.PyTest", Recorder)
    obj.PostRing(2)
    calls = obj.calls
    obj._release()
    orafon.pump_until(lambda: False, timeout=0.1)
    assert calls == []


def test_object_dropped_with_queued_events_is_freed_safely():
    obj = orafon.DispatchWithEvents("Orafon.PyTest", Recorder)
    obj.PostRing(3)
    del obj
    import gc

    gc.collect()
    assert orafon.pump_until(lambda: False, timeout=0.1) is False
