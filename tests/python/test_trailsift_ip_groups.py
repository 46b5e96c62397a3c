"""The IP address group table as the module loads it: file, reloads, and what labels an address."""

from tslogs import app_msg, index_docs, ip_group, ipv4, record


def locations(trailsift, sink, tmp_path, ips):
    docs = index_docs(trailsift, sink, tmp_path / "app.log", "app_log",
                      [app_msg(client_ip=ipv4(ip)) for ip in ips])
    return [d["client_location"] for d in docs]


def test_longest_prefix_and_range_split_decide_within_a_tenant(trailsift, sink, tmp_path,
                                                               ip_groups, capfd):
    ip_groups([
        ip_group("a", "admin", "wide", prefixes=[("10.0.0.0", 8)]),
        ip_group("b", "admin", "host", addrs=["10.1.1.1"]),
        # The range is stored as 10.0.0.128/25 ... 10.0.0.0/32 and 10.0.0.1/32: every piece is
        # longer than the /28 below, so the range's group wins inside it.
        ip_group("c", "admin", "range", ranges=[("10.9.0.0", "10.9.0.255")]),
        ip_group("d", "admin", "p28", prefixes=[("10.9.0.0", 28)]),
        ip_group("e", "admin", "reversed", ranges=[("10.5.0.9", "10.5.0.2")]),
    ])
    assert locations(trailsift, sink, tmp_path, [
        "10.1.1.1", "10.1.1.2", "10.9.0.0", "10.9.0.5", "10.9.0.200", "10.5.0.5",
    ]) == ["host", "wide", "range", "range", "range", "wide"]
    capfd.readouterr()


def test_bad_prefix_lengths_are_skipped_with_a_warning(trailsift, sink, tmp_path, ip_groups,
                                                       capfd):
    ip_groups([ip_group("g", "admin", "bad", prefixes=[("10.0.0.0", 33), ("11.0.0.0", -1)]),
               ip_group("h", "admin", "any", prefixes=[("12.0.0.0", 0)])])
    assert "add_ipentry  len > 32. len 33" in capfd.readouterr().err
    assert locations(trailsift, sink, tmp_path, ["10.0.0.1", "11.0.0.1", "200.1.2.3"]) == \
        ["any", "any", "any"]


def test_later_group_with_the_same_uuid_replaces_the_earlier(trailsift, sink, tmp_path,
                                                             ip_groups):
    ip_groups([ip_group("g", "admin", "old", addrs=["10.0.0.1"]),
               ip_group("g", "admin", "new", addrs=["10.0.0.2"])])
    assert locations(trailsift, sink, tmp_path, ["10.0.0.1", "10.0.0.2"]) == ["Unknown", "new"]


def test_table_is_loaded_once_and_replaced_by_create_ipg(trailsift, sink, tmp_path, ip_groups,
                                                         capfd):
    ip_groups([ip_group("g", "admin", "first", addrs=["10.0.0.1"])])
    ip_groups([ip_group("g", "admin", "second", addrs=["10.0.0.1"])], reload=False)
    # The table holds a group: a new worker does not read the file again.
    assert locations(trailsift, sink, tmp_path, ["10.0.0.1"]) == ["first"]
    sink.reset()
    trailsift.IndexWorker.create_ipg()
    assert locations(trailsift, sink, tmp_path, ["10.0.0.1"]) == ["second"]

    # An empty table is loaded again at every construction.
    ip_groups([])
    ip_groups([ip_group("g", "admin", "third", addrs=["10.0.0.1"])], reload=False)
    sink.reset()
    assert locations(trailsift, sink, tmp_path, ["10.0.0.1"]) == ["third"]
    capfd.readouterr()


def test_missing_or_truncated_file(trailsift, sink, tmp_path, ip_groups, side_dir, capfd):
    path = side_dir / "ip_address_groups_proto"
    path.unlink()
    trailsift.IndexWorker.create_ipg()
    for _ in range(2):
        trailsift.IndexWorker(str(tmp_path / "none.log"), 0, "idx", "app_log", 1)
    assert capfd.readouterr().err == "Unable to open IP address groups file\n" * 3

    whole = record(ip_group("g1", "admin", "kept", addrs=["10.0.0.1"]))
    cut = record(ip_group("g2", "admin", "lost", addrs=["10.0.0.2"]))
    path.write_bytes(whole + cut[:-2])
    trailsift.IndexWorker.create_ipg()
    assert capfd.readouterr().err == (
        "Error when getting IPAddrGroup from protobuf file length:%d .   %d\n"
        % (len(cut) - 6, len(cut) - 4))
    assert locations(trailsift, sink, tmp_path, ["10.0.0.1", "10.0.0.2"]) == ["kept", "Unknown"]
