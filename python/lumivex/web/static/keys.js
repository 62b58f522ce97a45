// The "/" key focuses the search box, unless a field is being typed in.
document.addEventListener("keydown", (event) => {
  if (event.key !== "/" || event.ctrlKey || event.metaKey || event.altKey) {
    return;
  }
  const active = document.activeElement;
  if (active && (active.isContentEditable || ["INPUT", "TEXTAREA", "SELECT"].includes(active.tagName))) {
    return;
  }
  const box = document.getElementById("search-box");
  if (box) {
    event.preventDefault();
    box.focus();
    box.select();
  }
});
