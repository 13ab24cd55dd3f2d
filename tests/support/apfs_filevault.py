"""FileVault for apfs-image.py's volumes, from Apple's published APFS format: a volume key
(VEK) encrypts the volume's tree nodes with AES-XTS; a key-encrypting key (KEK) wraps it
(RFC 3394), and a key derived from the password with PBKDF2-SHA256 wraps the KEK. The
container's keybag holds the wrapped VEK and where the volume's keybag is; that one holds the
wrapped KEK. Each keybag block is AES-XTS encrypted with its owner's UUID as both keys.
Keys and salts are fixed, so the same password writes the same bytes."""
import hashlib
import struct

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.keywrap import aes_key_wrap

SECTOR = 512
ITERATIONS = 1000
VEK = bytes(range(0x40, 0x60))
KEK = bytes(range(0x80, 0xA0))
SALT = bytes(range(0x10, 0x20))
VEK_UUID = bytes([0xFE] * 16)
USER_UUID = bytes([0x05, 0x01] + [0x77] * 14)
TAG_VOLUME_KEY, TAG_UNLOCK_RECORDS, TAG_HINT = 2, 3, 4
TYPE_CONTAINER_KEYBAG, TYPE_VOLUME_KEYBAG = 0x6B657973, 0x72656373  # 'keys', 'recs'


def xts_encrypt(key, data, block):
    """AES-128-XTS of whole sectors, the tweak being each sector's number from the container's
    start. Written out with ECB, as keybags use one key twice, which XTS libraries refuse."""
    first = Cipher(algorithms.AES(key[:16]), modes.ECB()).encryptor()
    second = Cipher(algorithms.AES(key[16:]), modes.ECB()).encryptor()
    out = bytearray()
    for index in range(len(data) // SECTOR):
        tweak = int.from_bytes(second.update(struct.pack("<QQ", block * (4096 // SECTOR) + index, 0)), "little")
        mask = bytearray()
        for _ in range(SECTOR // 16):
            mask += tweak.to_bytes(16, "little")
            tweak = ((tweak << 1) & ((1 << 128) - 1)) ^ (0x87 if tweak >> 127 else 0)
        mixed = bytes(a ^ b for a, b in zip(data[index * SECTOR:(index + 1) * SECTOR], mask))
        out += bytes(a ^ b for a, b in zip(first.update(mixed), mask))
    return bytes(out)


def der(tag, content):
    assert len(content) < 0x80  # short lengths only
    return bytes([tag, len(content)]) + content


def wrapped_vek():
    return der(0x30, der(0xA3, der(0x81, VEK_UUID) + der(0x82, bytes(8)) + der(0x83, aes_key_wrap(KEK, VEK))))


def wrapped_kek(password):
    user_key = hashlib.pbkdf2_hmac("sha256", password.encode(), SALT, ITERATIONS, 32)
    return der(0x30, der(0xA3, der(0x82, bytes(8)) + der(0x83, aes_key_wrap(user_key, KEK)) +
                         der(0x84, struct.pack(">H", ITERATIONS)) + der(0x85, SALT)))


def keybag_body(entries):
    """A keybag after its object header: (uuid, tag, data) entries, each padded to 16 bytes."""
    blob = b""
    for uuid, tag, data in entries:
        entry = uuid + struct.pack("<HHI", tag, len(data), 0) + data
        blob += entry + bytes(-len(entry) % 16)
    return struct.pack("<HHIQ", 2, len(entries), len(blob), 0) + blob


def write_keybags(image, container_uuid, volume_uuid, password):
    """Writes both keybags; returns the container keybag's block for the superblock."""
    volume_bag, container_bag = image.allocate(), image.allocate()
    image.put(volume_bag, volume_bag, TYPE_VOLUME_KEYBAG, 0, keybag_body([
        (USER_UUID, TAG_UNLOCK_RECORDS, wrapped_kek(password)), (volume_uuid, TAG_HINT, b"the usual\0")]))
    image.put(container_bag, container_bag, TYPE_CONTAINER_KEYBAG, 0, keybag_body([
        (volume_uuid, TAG_VOLUME_KEY, wrapped_vek()),
        (volume_uuid, TAG_UNLOCK_RECORDS, struct.pack("<QQ", volume_bag, 1))]))
    for block, key in ((volume_bag, volume_uuid * 2), (container_bag, container_uuid * 2)):
        image.blocks[block] = xts_encrypt(key, image.blocks[block], block)
    return container_bag


def encrypt_blocks(image, blocks):
    """Encrypts a volume's tree nodes (already written, with their checksums) with the VEK."""
    for block in blocks:
        image.blocks[block] = xts_encrypt(VEK, image.blocks[block], block)
