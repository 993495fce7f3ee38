# Sourced by the install tests. expected_files PREFIX: "MODE PATH" of every file an install under PREFIX
# (usr/local, usr) holds, sorted by path.
expected_files() {
  local share=$1/share side
  {
    echo "755 $1/bin/quillport"
    echo "755 $1/bin/quillport-deliver"
    echo "755 $1/sbin/quillportd"
    echo "644 $1/lib/systemd/system/quillportd.service"
    echo "644 $share/man/man8/quillportd.8.gz"
    echo "644 $share/applications/quillport.desktop"
    echo "644 $share/doc/quillport/changelog.gz"
    echo "644 $share/doc/quillport/copyright"
    for side in 16 22 24 32 48 64 128 256; do echo "644 $share/icons/hicolor/${side}x$side/apps/quillport.png"; done
    echo "644 $share/icons/hicolor/scalable/apps/quillport.svg"
    echo "644 $share/man/man1/quillport.1.gz"
    echo "644 $share/man/man1/quillport-deliver.1.gz"
  } | sort -k2
}
