"""The Python surface of trailsift: classes, argument conversion, unopenable files."""

import pytest

from tslogs import app_msg, write_log


def test_index_ret_cannot_be_constructed(trailsift):
    with pytest.raises(TypeError) as err:
        trailsift.IndexRet()
    assert str(err.value) == "trailsift.IndexRet: No constructor defined!"


def test_index_ret_properties_are_read_only(trailsift, sink, tmp_path):
    path = tmp_path / "a.log"
    write_log(path, [app_msg(report_timestamp=5 << 32)])
    ret = trailsift.IndexWorker(str(path), 0, "idx", "app_log", 10).run()
    assert (ret.max_ts, ret.min_ts, ret.total, ret.exception) == (5 << 32, 5 << 32, 1, False)
    for name in ("max_ts", "min_ts", "total", "exception", "read_pos"):
        with pytest.raises(AttributeError):
            setattr(ret, name, 0)


@pytest.mark.parametrize("args", [
    ("f", -1, "i", "app_log", 0),
    ("f", 0, "i", "app_log", -1),
    ("f", 0, "i", "app_log", 2 ** 32),
    ("f", 2 ** 33, "i", "app_log", 0),
    ("f", 1.5, "i", "app_log", 0),
    ("f", "0", "i", "app_log", 0),
    (5, 0, "i", "app_log", 0),
    ("f", 0, None, "app_log", 0),
    ("f", 0, "i", "app_log"),
], ids=["negative pos", "negative limit", "limit 2**32", "pos 33 bits", "float", "str pos",
        "int name", "None index", "four arguments"])
def test_bad_constructor_arguments_raise_type_error(trailsift, args):
    with pytest.raises(TypeError):
        trailsift.IndexWorker(*args)


def test_largest_integers_and_bytes_arguments_are_accepted(trailsift, sink, tmp_path):
    path = tmp_path / "a.log"
    write_log(path, [app_msg(log_id=1)])
    worker = trailsift.IndexWorker(str(path).encode(), 2 ** 32 - 1, b"idx", b"app_log",
                                   2 ** 32 - 1)
    ret = worker.run()  # starts past the end of the file: nothing to do
    assert (ret.total, ret.read_pos) == (0, 2 ** 32 - 1)
    assert sink.stats()["requests"] == 0


@pytest.mark.parametrize("name", ["missing.log", "dir", "with\0nul"])
def test_file_that_cannot_be_opened(trailsift, sink, tmp_path, capfd, name):
    (tmp_path / "dir").mkdir()
    (tmp_path / "with").write_bytes(b"")
    worker = trailsift.IndexWorker(str(tmp_path / name), 7, "idx", "app_log", 100)
    for _ in range(2):
        ret = worker.run()
        assert (ret.total, ret.exception, ret.read_pos, ret.max_ts, ret.min_ts) == \
            (0, False, 7, 0, 0)
    err = capfd.readouterr().err
    assert sink.stats()["requests"] == 0
    assert err == "Invalid file name \n" * 2


def test_create_ipg_is_callable(trailsift):
    assert trailsift.IndexWorker.create_ipg() is None
