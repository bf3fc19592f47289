# Sourced by the command-line tests: puts a file onto a FAT volume in two
# fragments with mtools. mcopy takes free clusters from where it last allocated,
# so the file is written when only a piece of it fits there: the rest goes into
# the room an earlier file left.
#
#   put_fragmented IMAGE SOURCE NAME
put_fragmented() {
    local image=$1 source=$2 name=$3 size free
    size=$(stat -c %s "$source")
    head -c "$size" /dev/zero >"$source.room"
    mcopy -i "$image" "$source.room" ::ROOM
    free=$(mdir -i "$image" :: | sed -n 's/^ *\([0-9 ]*\) bytes free.*/\1/p' | tr -d ' ')
    # All but half the file's size (and some slack for the folder) is filled.
    head -c $((free - size / 2 - 65536)) /dev/zero >"$source.fill"
    mcopy -i "$image" "$source.fill" "::FILL$RANDOM"
    mdel -i "$image" ::ROOM
    mcopy -i "$image" "$source" "::$name"
    rm -f "$source.room" "$source.fill"
}
