# Sourced by every script that runs Wine:  wine_environment PREFIX
# Wine in PREFIX, with a home folder of its own beside it (PREFIX.home), so
# that nothing it writes (its user folders' links, caches, settings) reaches
# the real home folder; without its menu builder, which would put menu
# entries and file associations for what is installed there; without its
# debug output, and without the Mono or Gecko install prompt (kqget needs
# neither).
wine_environment() {
    export WINEPREFIX=$1
    local home="$1.home"
    mkdir -p "$home/.config" "$home/.local/share" "$home/.cache"
    export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share
    export XDG_CACHE_HOME=$home/.cache
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}
