# Sourced by the application-name benchmarks: a private HOME, XDG folders and no session bus, with
# the same 32 desktop entries (English names, Brazilian Portuguese ones where the desktop has them).
# The folder goes on exit.
machine=$(mktemp -d)
trap 'rm -rf "$machine"' EXIT
export HOME="$machine/home" XDG_DATA_HOME="$machine/data" XDG_DATA_DIRS="$machine/none"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$machine/no-bus"
mkdir -p "$HOME" "$XDG_DATA_HOME/applications"

# desktop-file ID | Name | Name[pt_BR]
while IFS='|' read -r id name portuguese; do
  {
    echo "[Desktop Entry]"
    echo "Type=Application"
    echo "Name=$name"
    [ -n "$portuguese" ] && echo "Name[pt_BR]=$portuguese"
    echo "Exec=true"
  } >"$XDG_DATA_HOME/applications/$id.desktop"
done <<'ENTRIES'
firefox|Firefox|
gimp|GNU Image Manipulation Program|
org.inkscape.Inkscape|Inkscape|
libreoffice-writer|LibreOffice Writer|
libreoffice-calc|LibreOffice Calc|
libreoffice-impress|LibreOffice Impress|
code|Visual Studio Code|
com.obsproject.Studio|OBS Studio|
org.gnome.Calculator|Calculator|Calculadora
org.gnome.Terminal|Terminal|
org.gnome.Nautilus|Files|Arquivos
org.gnome.TextEditor|Text Editor|Editor de Texto
thunderbird|Thunderbird|
vlc|VLC media player|
spotify|Spotify|
blender|Blender|
audacity|Audacity|
org.kde.krita|Krita|
steam|Steam|
discord|Discord|
slack|Slack|
Zoom|Zoom|
org.telegram.desktop|Telegram Desktop|
chromium|Chromium|
google-chrome|Google Chrome|
gnome-control-center|Settings|Configurações
org.gnome.Calendar|Calendar|Agenda
org.gnome.Rhythmbox3|Rhythmbox|
org.kde.kdenlive|Kdenlive|
org.gnome.Shotwell|Shotwell|
transmission-gtk|Transmission|
org.keepassxc.KeePassXC|KeePassXC|
ENTRIES
