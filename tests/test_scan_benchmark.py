"""The scan benchmark's smoke mode: its trees are valid and its runner reports
both. Timings are not checked."""

import lumivex

from benchmarks import scan as scan_benchmark


def test_trees_scan_whole_and_are_rebuilt_when_stale(tmp_path):
    trees = scan_benchmark.ensure(tmp_path, quick=True)
    for tree, folder in trees:
        pages = sorted(folder.rglob("*.prp"))
        assert len(pages) == tree.pages
        for path in pages[:: max(1, len(pages) // 20)]:
            page = lumivex.PrpFile.load(str(path))
            assert tree.objects[0] <= len(page) <= tree.objects[1]
            assert page.lost_keys == 0
    first = pages[0].read_bytes()
    pages[0].write_bytes(b"")
    (tmp_path / "manifest.json").write_text("{}")
    scan_benchmark.ensure(tmp_path, quick=True)
    assert pages[0].read_bytes() == first


def test_runner_reports_both_trees(tmp_path, capsys):
    assert scan_benchmark.main(["--quick", "--runs", "1", "--data", str(tmp_path)]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert [line.split(" | ")[0].lstrip("| ") for line in lines[3:5]] == ["pages", "tiny"]
