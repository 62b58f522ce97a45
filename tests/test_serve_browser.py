"""lumivex serve in a real browser: from the age to a page, to an object,
along references to a texture whose images load; filtering without
scripts; hostile names that stay text; sorting and filtering kept through
screens and in the JSON link; colour swatches; light and dark themes; a
narrow screen; search from the "/" key, the diff view, problems of the
check that lead to their objects. Screenshots of each step are saved in
the test's temporary folder. Skipped where Selenium, Chromium or
chromedriver is missing; CI installs them."""

import json
import os
import re
import subprocess
import sys
import urllib.request
from contextlib import contextmanager
from pathlib import Path

import lumivex
import pytest

from fixtures import browser
from fixtures.builder import Obj, i16, key_ref, page, synched, u32
from fixtures.edited import releases
from fixtures.object_bodies import LAYER, MATERIAL, MIPMAP, layer_body, scene_object_body
from fixtures.served import served
from fixtures.texture_bodies import DXT5, texture_body

pytest.importorskip("starlette")
if browser.missing():
    # CI installs everything and asks for the test: there, a missing piece fails it.
    if os.environ.get("LUMIVEX_BROWSER_TEST") == "required":
        raise RuntimeError(f"the browser test cannot run: {browser.missing()}")
    pytest.skip(browser.missing(), allow_module_level=True)

from selenium.common.exceptions import (  # noqa: E402
    NoAlertPresentException,
    StaleElementReferenceException,
    WebDriverException,
)
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.wait import WebDriverWait  # noqa: E402

SAMPLES = Path(__file__).resolve().parent.parent / "samples"


@pytest.fixture(scope="module")
def chromium():
    with browser.chromium() as driver:
        yield driver


def texture_chain(age: lumivex.Age):
    """A reference to a layer whose own reference finds a texture: the
    source object, the layer and the texture."""
    for reference in age.references():
        target = reference.target
        if target is None or target.class_name != "plLayer":
            continue
        for _, key in target.references():
            texture = age.resolve(key)
            if texture is not None and texture.class_name == "plMipmap":
                return reference.source, target, texture
    raise AssertionError("the samples hold no reference to a layer with a texture")


def left(old):
    """A wait's condition: the element's document is gone. While a page
    replaces it, Chromium may say so by a node that "does not belong to the
    document" rather than by a stale reference."""

    def check(_driver) -> bool:
        try:
            old.is_enabled()
        except StaleElementReferenceException:
            return True
        except WebDriverException as error:
            if "does not belong to the document" not in str(error):
                raise
            return True
        return False

    return check


def follow(driver, element):
    """Clicks a link or a button and waits for the page it leads to."""
    old = driver.find_element(By.TAG_NAME, "html")
    element.click()
    WebDriverWait(driver, 30).until(left(old))


def references(driver):
    return driver.find_element(By.CSS_SELECTOR, "table.references")


def console_errors(driver) -> list[str]:
    return [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]


def test_from_the_age_along_references_to_a_texture(chromium, tmp_path):
    age = lumivex.Age.open(str(SAMPLES / "Demo.age"))
    source, layer, texture = texture_chain(age)
    page_name = next(name for name, loaded in age.loaded_pages() if source in set(loaded.objects()))
    shots = iter(range(100))

    def shot(what):
        chromium.save_screenshot(str(tmp_path / f"{next(shots):02}-{what}.png"))

    with served(str(SAMPLES / "Demo.age")) as address:
        chromium.get(address)
        assert chromium.find_element(By.TAG_NAME, "h1").text == f"Age {age.name}"
        shot("age")
        follow(chromium, chromium.find_element(By.LINK_TEXT, page_name))
        assert chromium.find_element(By.TAG_NAME, "h1").text.startswith(f"Page {page_name}")
        shot("page")
        follow(chromium, chromium.find_element(By.LINK_TEXT, source.name))
        assert chromium.find_element(By.TAG_NAME, "h1").text == f"{source.class_name} {source.name}"
        shot("source")
        follow(
            chromium,
            references(chromium).find_element(
                By.LINK_TEXT, f"plLayer {layer.name} ({layer.page.page_name})"
            ),
        )
        assert chromium.find_element(By.TAG_NAME, "h1").text == f"plLayer {layer.name}"
        shot("layer")
        follow(
            chromium,
            references(chromium).find_element(
                By.LINK_TEXT, f"plMipmap {texture.name} ({texture.page.page_name})"
            ),
        )
        assert chromium.find_element(By.TAG_NAME, "h1").text == f"plMipmap {texture.name}"
        images = chromium.find_elements(By.CSS_SELECTOR, ".levels img")
        assert len(images) == max(1, texture.as_mipmap().num_levels)
        for image in images:
            assert (
                chromium.execute_script(
                    "return arguments[0].complete && arguments[0].naturalWidth", image
                )
                > 0
            )
        shot("texture")
        # Back to the layer through "referenced by", found when asked for.
        assert not chromium.find_elements(By.CSS_SELECTOR, "table.referrers")
        follow(chromium, chromium.find_element(By.LINK_TEXT, "Find the objects that refer here"))
        referrers = chromium.find_element(By.CSS_SELECTOR, "table.referrers")
        follow(chromium, referrers.find_element(By.PARTIAL_LINK_TEXT, layer.name))
        assert chromium.find_element(By.TAG_NAME, "h1").text == f"plLayer {layer.name}"
        assert console_errors(chromium) == []


def test_filtering_works_without_scripts(chromium, tmp_path):
    town = lumivex.PrpFile.load(str(SAMPLES / "Demo_District_Town.prp"))
    layers = town.objects_by_name("plLayer")
    with served(str(SAMPLES / "Demo_District_Town.prp")) as address:
        chromium.get(address)
        form = chromium.find_element(By.CSS_SELECTOR, "form.filter")
        form.find_element(By.CSS_SELECTOR, "option[value='plLayer']").click()
        follow(chromium, form.find_element(By.TAG_NAME, "button"))
        rows = chromium.find_elements(By.CSS_SELECTOR, "table.objects tbody tr")
        assert [row.find_elements(By.TAG_NAME, "td")[2].text for row in rows] == [
            obj.name for obj in layers
        ]
        chromium.save_screenshot(str(tmp_path / "filtered.png"))
        assert console_errors(chromium) == []


HOSTILE = [
    "<script>window.ran = 'script'</script>",
    "<img src=x onerror=\"window.ran='img'\">",
    '"><svg onload="window.ran=\'svg\'">',
]


def test_hostile_names_run_nothing(chromium, tmp_path):
    folder = tmp_path / "hostile"
    folder.mkdir()
    sequence = 0x00300001
    objects = [
        Obj(1, name, scene_object_body(name), object_id=n, location_sequence=sequence)
        for n, name in enumerate(HOSTILE, 1)
    ]
    objects.append(
        Obj(
            LAYER,
            HOSTILE[1],
            layer_body(HOSTILE[1], key_ref(HOSTILE[0], MIPMAP, location_sequence=sequence)),
            location_sequence=sequence,
        )
    )
    objects.append(
        Obj(MIPMAP, HOSTILE[0], texture_body(HOSTILE[0], DXT5), location_sequence=sequence)
    )
    (folder / "Bad_District_Bad.prp").write_bytes(
        page(objects, age=HOSTILE[2], page_name=HOSTILE[0], sequence_number=sequence)
    )
    with served(str(folder)) as address:
        chromium.get(address)
        follow(chromium, chromium.find_element(By.LINK_TEXT, "Bad_District_Bad.prp"))
        chromium.save_screenshot(str(tmp_path / "hostile-page.png"))
        names = [a.text for a in chromium.find_elements(By.CSS_SELECTOR, "table.objects tbody a")]
        assert sorted(names) == sorted(obj.name for obj in objects)
        for number in range(len(objects)):
            chromium.get(f"{address}object/Bad_District_Bad.prp/{number}")
            assert chromium.find_element(By.TAG_NAME, "h1").text.endswith(objects[number].name)
            with pytest.raises(NoAlertPresentException):
                _ = chromium.switch_to.alert
            assert chromium.execute_script("return window.ran") is None
        chromium.save_screenshot(str(tmp_path / "hostile-object.png"))
    assert os.listdir(folder) == ["Bad_District_Bad.prp"]


def test_search_from_the_slash_key_to_an_object(chromium, tmp_path):
    age = lumivex.Age.open(str(SAMPLES / "Demo.age"))
    lamps = [
        obj.name for _, page in age.loaded_pages() for obj in page if "lamp" in obj.name.lower()
    ]
    with served(str(SAMPLES / "Demo.age")) as address:
        chromium.get(address)
        chromium.find_element(By.TAG_NAME, "body").send_keys("/")
        box = chromium.switch_to.active_element
        assert box.get_attribute("id") == "search-box"
        old = chromium.find_element(By.TAG_NAME, "html")
        box.send_keys("LAMP", Keys.ENTER)
        WebDriverWait(chromium, 30).until(left(old))
        names = chromium.find_elements(By.CSS_SELECTOR, "table.results td:nth-child(4) a")
        assert [name.text for name in names] == lamps
        form = chromium.find_element(By.CSS_SELECTOR, "form.search-form")
        wanted = form.find_element(By.NAME, "class")
        wanted.click()
        # Typed in a field, "/" is a character like any other.
        wanted.send_keys("/")
        assert chromium.switch_to.active_element == wanted
        assert wanted.get_attribute("value") == "/"
        wanted.clear()
        wanted.send_keys("plLayer")
        follow(chromium, form.find_element(By.TAG_NAME, "button"))
        chromium.save_screenshot(str(tmp_path / "search.png"))
        rows = chromium.find_elements(By.CSS_SELECTOR, "table.results tbody tr")
        assert [row.find_elements(By.TAG_NAME, "td")[2].text for row in rows] == ["plLayer"]
        follow(chromium, rows[0].find_element(By.LINK_TEXT, "LampGlass"))
        assert chromium.find_element(By.TAG_NAME, "h1").text == "plLayer LampGlass"
        assert console_errors(chromium) == []


def test_the_diff_view_of_two_releases(chromium, tmp_path):
    releases(tmp_path)
    with served(str(tmp_path)) as address:
        chromium.get(f"{address}diff")
        form = chromium.find_element(By.CSS_SELECTOR, "form.filter")
        for side, name in (("a", "A/Demo.age"), ("b", "B/Demo.age")):
            form.find_element(
                By.CSS_SELECTOR, f"select[name={side}] option[value='{name}']"
            ).click()
        follow(chromium, form.find_element(By.TAG_NAME, "button"))
        chromium.save_screenshot(str(tmp_path / "diff.png"))
        headings = [h2.text for h2 in chromium.find_elements(By.CSS_SELECTOR, ".diff h2")]
        lines = [li.text for li in chromium.find_elements(By.CSS_SELECTOR, "ul.changes li")]
        assert (headings, lines) == (
            ["age Demo", "page Town"],
            ["setting day_length: 30.5 -> 26.0", "plLayer LampGlass: opacity 0.5 -> 0.25"],
        )
        assert console_errors(chromium) == []


def test_a_problem_of_the_check_leads_to_its_object(chromium, tmp_path):
    sequence = 0x00300001
    body = i16(MATERIAL) + key_ref("Mat", MATERIAL) + synched(0) + u32(1) + u32(2) + u32(1)
    body += u32(3) + key_ref("Gone", LAYER, location_sequence=sequence)
    objects = [Obj(MATERIAL, "Mat", body, 1, location_sequence=sequence)]
    data = page(objects, age="Gaps", page_name="Only", sequence_number=sequence)
    (tmp_path / "Gaps_District_Only.prp").write_bytes(data)
    (tmp_path / "Gaps.age").write_text("SequencePrefix=48\nPage=Only,1\n")
    with served(str(tmp_path / "Gaps.age")) as address:
        chromium.get(address)
        problems = chromium.find_element(By.CSS_SELECTOR, "details.error table")
        follow(chromium, problems.find_element(By.LINK_TEXT, "Mat"))
        assert chromium.find_element(By.TAG_NAME, "h1").text == "hsGMaterial Mat"
        chromium.back()
        problems = chromium.find_element(By.CSS_SELECTOR, "details.error table")
        follow(chromium, problems.find_element(By.LINK_TEXT, "Only"))
        assert chromium.find_element(By.TAG_NAME, "h1").text == "Page Only of age Gaps"


def relative_luminance(colour: str) -> float:
    """The WCAG luminance of a computed colour, "rgb(r, g, b)"."""
    channels = [int(part) / 255 for part in re.findall(r"\d+", colour)[:3]]
    linear = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4 for c in channels]
    return 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2]


def contrast(first: str, second: str) -> float:
    light, dark = sorted((relative_luminance(first), relative_luminance(second)), reverse=True)
    return (light + 0.05) / (dark + 0.05)


def computed(driver, selector: str, property_name: str) -> str:
    return driver.execute_script(
        "return getComputedStyle(document.querySelector(arguments[0]))[arguments[1]]",
        selector,
        property_name,
    )


@contextmanager
def colour_scheme(driver, scheme: str):
    """The system's preference of light or dark, for the length of a block."""
    feature = {"name": "prefers-color-scheme", "value": scheme}
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": [feature]})
    try:
        yield
    finally:
        driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})


@contextmanager
def phone_screen(driver, width: int):
    """A phone's screen of that width in CSS pixels, for the length of a
    block: narrower than a desktop window can be made."""
    metrics = {"width": width, "height": 844, "deviceScaleFactor": 1, "mobile": True}
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", metrics)
    try:
        yield
    finally:
        driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


SHOP_SEQ = 0x00200001
# Sizes that repeat, so that equal ones must keep the page's order.
SHOP = [(f"{'Lamp' if n % 3 else 'lamp'}{n:03}", n * 7 % 23) for n in range(160)]
COLOURS = [0.0, 0.5, 1.0, 1.0, 1.0, 0.0, 0.0, 0.5, -1.0, 2.0, 0.25, 1.0, 0.0, 0.0, 0.0, 0.0]
LONG_NAME = "Unbroken" * 40


@pytest.fixture(scope="module")
def shop(tmp_path_factory):
    """A folder with an age whose one page holds more objects than one
    screen shows, a layer with colours, one with a name longer than a
    narrow screen and a reference that finds nothing, for the check to report."""
    folder = tmp_path_factory.mktemp("shop")
    (folder / "Shop.age").write_text("SequencePrefix=32\n[Pages]\nPage=Main,1\n")
    objects = [
        Obj(1, name, bytes(size), object_id=n, location_sequence=SHOP_SEQ)
        for n, (name, size) in enumerate(SHOP, 1)
    ]
    objects.append(
        Obj(LAYER, "Paint", layer_body("Paint", colors=COLOURS), location_sequence=SHOP_SEQ)
    )
    objects.append(
        Obj(
            LAYER,
            LONG_NAME,
            layer_body(LONG_NAME, key_ref(LONG_NAME, MIPMAP, location_sequence=SHOP_SEQ)),
            location_sequence=SHOP_SEQ,
        )
    )
    (folder / "Shop_District_Main.prp").write_bytes(
        page(objects, age="Shop", page_name="Main", sequence_number=SHOP_SEQ)
    )
    with served(str(folder)) as address:
        yield address


def screen_rows(driver) -> list[tuple[int, str, int]]:
    """The index, name and size of each row of the object table."""
    rows = []
    for row in driver.find_elements(By.CSS_SELECTOR, "table.objects tbody tr"):
        cells = [cell.text for cell in row.find_elements(By.TAG_NAME, "td")]
        rows.append((int(cells[0]), cells[2], int(cells[4])))
    return rows


def test_sorting_and_filtering_keep_through_screens_and_json(chromium, shop):
    chromium.get(f"{shop}page/Shop_District_Main.prp")
    form = chromium.find_element(By.CSS_SELECTOR, "form.filter")
    form.find_element(By.NAME, "name").send_keys("LAMP")
    follow(chromium, form.find_element(By.TAG_NAME, "button"))
    heading = "//th[a[text()='Bytes']]"
    follow(chromium, chromium.find_element(By.XPATH, f"{heading}/a"))
    assert chromium.find_element(By.XPATH, heading).get_attribute("aria-sort") == "ascending"
    follow(chromium, chromium.find_element(By.XPATH, f"{heading}/a"))
    assert chromium.find_element(By.XPATH, heading).get_attribute("aria-sort") == "descending"
    shown = screen_rows(chromium)
    json_link = chromium.find_element(By.LINK_TEXT, "objects as JSON").get_attribute("href")
    follow(chromium, chromium.find_element(By.CSS_SELECTOR, "a[rel=next]"))
    assert chromium.find_element(By.NAME, "name").get_attribute("value") == "LAMP"
    assert chromium.find_element(By.XPATH, heading).get_attribute("aria-sort") == "descending"
    shown += screen_rows(chromium)
    # Every lamp, the largest first, equal sizes in the page's order.
    assert [index for index, _, _ in shown] == sorted(
        range(len(SHOP)), key=lambda index: -SHOP[index][1]
    )
    assert json_link.endswith("?name=LAMP&sort=-size")
    assert chromium.find_element(By.LINK_TEXT, "objects as JSON").get_attribute("href") == json_link
    with urllib.request.urlopen(json_link) as response:
        listed = json.load(response)["objects"]
    assert [(o["index"], o["name"], o["data_len"]) for o in listed] == shown
    assert console_errors(chromium) == []


def test_colours_show_swatches_of_their_colour(chromium, shop):
    chromium.get(f"{shop}page/Shop_District_Main.prp?class=plLayer&name=Paint")
    follow(chromium, chromium.find_element(By.LINK_TEXT, "Paint"))
    swatches = chromium.find_elements(By.CSS_SELECTOR, "img.swatch")
    assert len(swatches) == 4
    # The left half shows the colour without its alpha, the right half over
    # a checkerboard with it.
    pixels = [
        chromium.execute_script(
            "const image = arguments[0]; const canvas = document.createElement('canvas');"
            "canvas.width = image.naturalWidth; canvas.height = image.naturalHeight;"
            "const context = canvas.getContext('2d'); context.drawImage(image, 0, 0);"
            "return [Array.from(context.getImageData(4, 4, 1, 1).data),"
            " Array.from(context.getImageData(20, 4, 1, 1).data)];",
            swatch,
        )
        for swatch in swatches
    ]
    assert [left for left, _ in pixels] == [
        [0, 128, 255, 255],
        [255, 0, 0, 255],
        [0, 255, 64, 255],
        [0, 0, 0, 255],
    ]
    # Opaque, half and fully transparent over a light checkerboard square.
    assert pixels[0][1] == [0, 128, 255, 255]
    assert pixels[1][1][0] in range(220, 236) and pixels[1][1][1] in range(92, 108)
    assert pixels[3][1] == [200, 200, 200, 255]
    assert console_errors(chromium) == []


@pytest.mark.parametrize("scheme", ["light", "dark"])
def test_the_theme_follows_the_system_and_stays_readable(chromium, shop, scheme, tmp_path):
    with colour_scheme(chromium, scheme):
        chromium.get(f"{shop}age/Shop.age")
        paper = computed(chromium, "body", "backgroundColor")
        assert (relative_luminance(paper) > 0.5) == (scheme == "light")
        for selector in ("body", "main a", ".trail", "dl.fields dt", "details.error summary"):
            assert contrast(computed(chromium, selector, "color"), paper) >= 4.5, selector
        assert contrast(computed(chromium, "header", "backgroundColor"), paper) < 1.5
        chromium.save_screenshot(str(tmp_path / f"{scheme}.png"))


@pytest.mark.parametrize(
    "view",
    [
        "",
        "age/Shop.age",
        "page/Shop_District_Main.prp",
        "page/Shop_District_Main.prp?class=plLayer&sort=-name",
        f"object/Shop_District_Main.prp/{len(SHOP) + 1}",
        f"object/Shop_District_Main.prp/{len(SHOP)}",
    ],
)
def test_nothing_overflows_sideways_on_a_narrow_screen(chromium, shop, view, tmp_path):
    with phone_screen(chromium, 390):
        chromium.get(shop + view)
        # The emulated width may reach the page's layout a moment after it loads.
        WebDriverWait(chromium, 10).until(
            lambda driver: driver.execute_script("return window.innerWidth") == 390
        )
        assert chromium.execute_script("return document.documentElement.scrollWidth") <= 390
        chromium.save_screenshot(str(tmp_path / "narrow.png"))


def test_a_change_line_copied_from_the_browser_runs_in_a_shell(chromium, tmp_path):
    """The text a user copies from an object's "change" line, the name of
    the layer holding spaces, a tab, a line feed and quotes, sets the value
    when a shell runs it."""
    folder = tmp_path / "my pages"
    folder.mkdir()
    sequence = 0x00300001
    name = "it's  a\tlamp\n$HOME"
    objects = [Obj(LAYER, name, layer_body(name, None, opacity=0.5), location_sequence=sequence)]
    (folder / "Lit.prp").write_bytes(page(objects, sequence_number=sequence))
    out = tmp_path / "out.prp"
    with served(str(folder)) as address:
        chromium.get(f"{address}object/Lit.prp/0")
        rows = chromium.find_elements(By.CSS_SELECTOR, "dl.fields dd")
        (row,) = [row for row in rows if ".opacity=" in row.get_attribute("textContent")]
        row.find_element(By.TAG_NAME, "summary").click()
        code = row.find_element(By.TAG_NAME, "code")
        code.click()
        copied = chromium.execute_script("return window.getSelection().toString()")
        assert console_errors(chromium) == []
    command = copied.replace("=0.5", "=0.25") + f" -o '{out}'"
    shell = 'lumivex() { "$LUMIVEX_PYTHON" -m lumivex "$@"; }\n'
    env = {**os.environ, "LUMIVEX_PYTHON": sys.executable, "PYTHONPATH": os.pathsep.join(sys.path)}
    done = subprocess.run(["sh", "-c", shell + command], env=env, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert [obj.as_layer().opacity for obj in lumivex.PrpFile.load(out)] == [0.25]


def test_a_json_answer_opened_in_the_browser_logs_no_error(chromium):
    """The browser asks a JSON answer's icon at /favicon.ico."""
    with served(str(SAMPLES / "Demo.age")) as address:
        chromium.get(f"{address}page/Demo_District_Town.prp")
        follow(chromium, chromium.find_element(By.LINK_TEXT, "JSON"))
        assert json.loads(chromium.find_element(By.TAG_NAME, "pre").text)["page_count"] == 1
        chromium.get(f"{address}age/Demo.age")
        assert console_errors(chromium) == []
