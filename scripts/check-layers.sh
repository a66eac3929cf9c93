#!/usr/bin/env bash
# Checks the include rules of the layers (HACKING.md): which layer's headers each file of src/
# may include, and that the core layers include no Qt Gui, Widgets, PrintSupport or Charts
# header. Prints every violation as FILE:LINE: reason and exits 1 when there is one.
#   scripts/check-layers.sh [SRC_DIR]      (default: src of this checkout)
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}
src=${src%/}

# The layer of a file of src/ (keep in step with the source lists in CMakeLists.txt).
layer_of() {
  case "$1" in
    meter/lcdpanel.* | meter/gaugeimage.*) echo meter_ui ;;
    meter/*) echo meter_core ;;
    records/*) echo records ;;
    link/*) echo link ;;
    chart/chartpaging.* | chart/reportlayout.*) echo chart_core ;;
    chart/*) echo chart_ui ;;
    app/*) echo app ;;
    *) echo unknown ;;
  esac
}
# The layers whose headers a layer may include (its own among them).
allowed() {
  case "$1" in
    meter_core) echo "meter_core" ;;
    meter_ui) echo "meter_core meter_ui" ;;
    records) echo "meter_core records" ;;
    link) echo "meter_core link" ;;
    chart_core) echo "chart_core" ;;
    chart_ui) echo "meter_core records chart_core chart_ui" ;;
    app) echo "meter_core meter_ui records link chart_core chart_ui app" ;;
    *) echo "" ;;
  esac
}
# Layers that may use Qt Gui, Widgets, PrintSupport and Charts.
gui_layer() { case "$1" in meter_ui | chart_ui | app) return 0 ;; *) return 1 ;; esac; }

# The Qt headers of the modules a core layer must not use: from the installed Qt when it can
# be found, otherwise by name.
qt_headers=$(qtpaths6 --query QT_INSTALL_HEADERS 2>/dev/null ||
             pkg-config --variable=includedir Qt6Core 2>/dev/null || true)
gui_names=""
for m in QtGui QtWidgets QtPrintSupport QtCharts QtOpenGL QtOpenGLWidgets; do
  [ -n "$qt_headers" ] && [ -d "$qt_headers/$m" ] && gui_names+=" $(ls "$qt_headers/$m" | tr '\n' ' ')"
done
is_gui_header() {
  local h=$1
  case "$h" in QtGui/* | QtWidgets/* | QtPrintSupport/* | QtCharts/*) return 0 ;; esac
  if [ -n "$gui_names" ]; then
    case " $gui_names " in *" $h "*) return 0 ;; esac
    return 1
  fi
  case "$h" in
    QWidget | QFrame | QPainter* | QImage | QPixmap | QFont* | QColor | QBrush | QPen | \
    QApplication | QGuiApplication | QScreen | QDialog | QPrint* | QPdfWriter | QChart* | QPaint*) return 0 ;;
  esac
  return 1
}

bad=0
while IFS= read -r file; do
  rel=${file#"$src"/}
  layer=$(layer_of "$rel")
  if [ "$layer" = unknown ]; then
    echo "$file: in no layer (add it to scripts/check-layers.sh and CMakeLists.txt)"
    bad=1
    continue
  fi
  ok=" $(allowed "$layer") "
  while IFS=: read -r line text; do
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      inc=${BASH_REMATCH[1]}
      [ -e "$src/$inc" ] || continue  # a header next to the file or outside src/
      target=$(layer_of "$inc")
      if [[ $ok != *" $target "* ]]; then
        echo "$file:$line: $layer includes $inc of $target"
        bad=1
      fi
    elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
      inc=${BASH_REMATCH[1]}
      if ! gui_layer "$layer" && is_gui_header "$inc"; then
        echo "$file:$line: $layer is a core layer and includes <$inc> (Qt Gui/Widgets)"
        bad=1
      fi
    fi
  done < <(grep -n '#[[:space:]]*include' "$file" || true)
done < <(find "$src" -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

if [ "$bad" -ne 0 ]; then
  echo "check-layers: include rules broken (see HACKING.md)"
  exit 1
fi
echo "check-layers: include rules hold"
