#!/usr/bin/env python3
# Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/:
# partition-table images (under 64 KiB) holding the chains the reader must
# survive, and samples of every other kind of outside text the programs read.
import os, struct, shutil, glob
HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
R = os.path.join(HERE, 'corpus')
shutil.rmtree(R, ignore_errors=True)
def d(n):
    p=os.path.join(R,n); os.makedirs(p, exist_ok=True); return p
def sector(entries, signed=True):
    s=bytearray(512)
    for slot,(t,first,count) in entries.items():
        o=446+16*slot
        s[o+4]=t
        s[o+8:o+12]=struct.pack('<I',first)
        s[o+12:o+16]=struct.pack('<I',count)
    if signed: s[510]=0x55; s[511]=0xAA
    return s
def image(nsect, recs):
    img=bytearray(512*nsect)
    for n,s in recs.items(): img[n*512:(n+1)*512]=s
    assert len(img) < 65536
    return bytes(img)
pt=d('parttable')
def put(name, data): open(os.path.join(pt,name),'wb').write(data)
# forward chain 2 -> 12 -> 32, base 2
put('chain-forward.img', image(40, {0: sector({0:(0x83,64,8),1:(0x05,2,100)}),
    2: sector({0:(0x83,1,4),1:(0x05,10,10)}), 12: sector({0:(0x83,1,4),1:(0x05,30,10)}), 32: sector({0:(0x82,1,4)})}))
# backward chain 2 -> 42 -> 22
put('chain-backward.img', image(48, {0: sector({0:(0x05,2,100)}),
    2: sector({0:(0x83,1,4),1:(0x05,40,4)}), 42: sector({0:(0x83,1,4),1:(0x0F,20,4)}), 22: sector({0:(0x8e,1,4)})}))
# looping chain 2 -> 12 -> 2
put('chain-loop.img', image(16, {0: sector({0:(0x0F,2,100)}),
    2: sector({0:(0x83,1,4),1:(0x05,10,4)}), 12: sector({0:(0x83,1,4),1:(0x05,0,4)})}))
# self-linking record
put('chain-self.img', image(8, {0: sector({0:(0x05,2,100)}), 2: sector({0:(0x83,1,4),1:(0x05,0,4)})}))
# two extended entries: the later one's chain is followed
put('two-extended.img', image(48, {0: sector({0:(0x05,2,10),1:(0x83,100,8),2:(0x0F,40,5)}),
    2: sector({0:(0x83,1,4)}), 40: sector({0:(0x0c,1,2),1:(0x05,4,1)}), 44: sector({0:(0x07,1,2)})}))
# 0x85 is listed, not followed
put('type-85.img', image(8, {0: sector({1:(0x85,2,10)}), 2: sector({0:(0x83,1,4)})}))
# slot 3 only
put('slot3-only.img', image(1, {0: sector({2:(0x83,2048,4096)})}))
# a record with two data entries and one holding only a link
put('two-data-and-link-only.img', image(24, {0: sector({0:(0x05,2,100)}),
    2: sector({0:(0x83,1,2),1:(0x82,3,2),3:(0x05,8,1)}), 10: sector({2:(0x05,18,1)}), 20: sector({0:(0xfd,1,2)})}))
# unsigned second record; chain record past the end of the image
put('unsigned-second.img', image(16, {0: sector({0:(0x05,2,100)}), 2: sector({0:(0x83,1,4),1:(0x05,8,1)}), 10: sector({0:(0x83,1,4)}, signed=False)}))
put('past-end.img', image(4, {0: sector({0:(0x05,2,100)}), 2: sector({0:(0x83,1,4),1:(0x05,500,1)})}))
# every record full: three data entries and a link; the disk reaches 256 partitions
recs={0: sector({0:(0x83,2048,8),1:(0x05,1,200)})}
for r in range(1,92): recs[r]=sector({0:(0x83,1,1),1:(0x83,2,1),2:(0x83,3,1),3:(0x05,r,1)})
put('full-records.img', image(93, recs))
# a long run of records holding only a link
recs={0: sector({0:(0x05,1,200)})}
for r in range(1,110): recs[r]=sector({1:(0x05,r,1)})
recs[110]=sector({0:(0x83,1,1)})
put('link-only-run.img', image(112, recs))
put('mbr-short.img', bytes(300))
shutil.copy(TOP + '/tests/data/fuzz-regressions/ebr-loop.img', pt)

pp=d('procpartitions')
def w(dir,name,data): open(os.path.join(dir,name),'wb').write(data if isinstance(data,bytes) else data.encode())
w(pp,'listing','major minor  #blocks  name\n\n   8        0  488386584 sda\n   8        1     524288 sda1\n   8       16  976762584 sdb\n   9        0  976630336 md0\n 259        0  500107608 nvme0n1\n 104        0   71687372 cciss/c0d0\n 104        1   71686000 cciss/c0d0p1\n   3        0      32767 hda\n   3       64      32768 hdb\n')
w(pp,'bad-blocks','major minor  #blocks  name\n\n 8 0 12x45 sda\n 8 16 -99999 sdb\n 9 1 99999999999999999999 md1\n')
w(pp,'long-fields','8 0 65536 ' + 'md'*40 + '\n' + '8 0 ' + '9'*70 + ' sdc\n' + 'x'*300 + ' 1 65536 sdd\n')
w(pp,'tabs-crlf','major\tminor\t#blocks\tname\r\n\r\n 8\t0\t65536\tsde\r\n')

ini=d('inifile')
for f in glob.glob(TOP + '/tests/data/lang/*.ini')+glob.glob(TOP + '/tests/data/font/*.ini')+glob.glob(TOP + '/tests/data/ini/*.ini'):
    shutil.copy(f, os.path.join(ini, os.path.basename(os.path.dirname(f))+'-'+os.path.basename(f)))
w(ini,'page-switches.ini','[General]\nLAN=EN\ntsDisk=0\ntsPci=0x0\ntsModules=-1\ntsService=2147483648\ntsFYQ5=0xFFFFFFFF\n; a comment\n[EN]\nfmConMain=Console\n')

bc=d('bondconf')
w(bc,'written','DEVICE="bond0"\nSLAVES="eth0 eth1"\nIP="10.0.0.5"\nMASK="255.255.255.0"\nGATEWAY="10.0.0.1"\n')
w(bc,'hand-edited','# comment\r\ndevice = bond0\r\nslaves="eth0  eth1 "\r\nIP="10.0.0.5\nMASK=""255.0.0.0""\nip=second\nGATEWAY\n')
w(bc,'nul-and-odd',b'DEVICE="bo\x01nd0"\nSLAVES=\xff\xfe\nIP=1.2.3.4\x00MASK="x"\n')

nd=d('netdev')
w(nd,'kernel',open('/proc/net/dev').read())
w(nd,'odd-lines','Inter-|   Receive\n face |bytes\n  eth0: 1 2 3\nnocolon line\n   : 5 6\n  ETH0:7 8\nbond0:1\n lo:2:3 4\n\xc3\xa9th1: 1\r\n  veth-a.1@x: 0')

ml=d('modules_lspci')
shutil.copy(TOP + '/tests/data/lspci.txt', os.path.join(ml,'lspci.txt'))
shutil.copy(TOP + '/tests/data/lspci-classes.txt', os.path.join(ml,'lspci-classes.txt'))
w(ml,'modules','xfs 1994752 1 - Live 0x0000000000000000\nbonding 200704 0 - Live 0x0000000000000000\nlibcrc32c 16384 2 xfs,nf_conntrack, Live 0x0000000000000000\nloop 32768 0\n   lead  two blanks\nsingle\n\n')
w(ml,'mixed','00:1f.2 SATA controller: Intel Corporation 82801 (rev 05)\n01:00.0 Ethernet controller: Broadcom NetXtreme\n  02:00.0   Ethernet controller:   Second: with colon  \nnocolon-line\n00:03.0 ethernet controller: lower case class\n\t\r\n:\n')
u=d('utf8towide')
w(u,'chinese','网卡绑定 磁盘信息'.encode())
w(u,'edges',b'abc\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\xf4\x90\x80\x80\x80\xed\xa0\x80\xc0A\xc3\xc3\xf8\x88\x80\x80\x80\xfc')

lf=d('linefile')
w(lf,'modules-mixed-encodings',b'e1000\nbnx2 name=caf\xe9\ntg3 opt=\xc3\n\xef\xbb\xbfigb debug=1\n\xc5\xe4\xd6\xc3\n')
w(lf,'fstab-line-ends',b'UUID=1234\t/\text4\tdefaults\t0 1\r\n/dev/sdb1 /data xfs defaults 0 0\rproc /proc proc defaults 0 0\n\n\r\n# last line without end')
w(lf,'md-conf',b'md[0]=/dev/sdb1 /dev/sdc1\nMD[1]=x=y\n md[2]=blank\n\x00nul\n')

sw=d('shellwords')
w(sw,'parameters','e1000 debug=1 opt="a b" \'x  y\'z')
w(sw,'backslashes','a\\ b "c\\d\\$e\\"f" \\\n "g\\\nh" trailing\\')
w(sw,'comments','e1000 # note \'x\nbnx2 a#b \'\'#c \\#d\tx\ry')
w(sw,'code-as-text','e1000; touch x $(y) `z` | w > v \xe9\xff')

ct=d('cutter')
w(ct,'lines',b'\x07ab\n\ncd\n' + b'a'*1023 + b'\n' + b'b'*1024 + b'\nend')
w(ct,'long-line',b'\x80' + b'x'*3000 + b'\n\x00zero\x00\n')

mt=d('mtab')
w(mt,'mounts','/dev/sda1 / ext4 rw,relatime 0 0\nproc /proc proc rw 0 0\n/dev/md/0 /data xfs rw,noatime 0 0\n/dev/sdb1 /mnt/with\\040blank xfs rw 0 0\n/dev/sda1 /again xfs rw 0 0\n')
w(mt,'odd-lines','  /dev/sdc1    /lead   xfs\n/dev/sdd1\t/tab\txfs\n\n/dev/md0\n/dev/md0 /own\n/dev/./md0 /dot ext2\n/dev/sde1 /nul\x00 hidden\r\n' + 'x'*4095 + '/dev/sdf1 /cut xfs\n/dev/sdg1 /trail xfs   \t\n/dev/sdh1 /last')
ft=d('fstab')
w(ft,'mount-rules','/dev/sdb1\n/data\n# static file system information\nUUID=1\t/\text4\tdefaults\t0 1\n/dev/sdb1 /old xfs defaults 0 0\n/dev/sdc1 /data ext3 defaults 1 2\n/dev/sdb1\t/data\txfs\n#x /data\n/dev/sdb1 /data xfs defaults 0 0\n\t/dev/sdb1 /tab-led\nproc /proc proc defaults 0 0\n\n  /dev/sdb1   /x\n/DEV/SDB1 /y\n/dev/sdb10 /data1\n/dev/sdb1 /data')
w(ft,'empty-fields','\n\n\nnone\n \n  \t\nonly\n')
w(ft,'bytes',b'/dev/md0\n/srv\ncaf\xe9 /a\r\n/dev/md0 /b\r\n\x00 /srv\nlast /srv')
