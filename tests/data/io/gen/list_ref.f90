! One list-directed read per driver line, from the text after the first '|'
! up to the last '|'. Targets by the first letter: R three 4-byte reals,
! D three 8-byte reals, M an integer, a 4-byte real and a text, L a logical and
! an integer. Every target holds -9 (a text "-", a logical T) before the read.
program list_ref
  implicit none
  character(len=300) :: line, buf
  character(len=1) :: typ
  character(len=40) :: s
  integer :: i, j, ios, n
  real(4) :: a, b, c
  real(8) :: x, y, z
  logical :: l
  do
    read(*, '(A)', iostat=ios) line
    if (ios /= 0) exit
    typ = line(1:1)
    i = index(line, '|')
    j = index(line, '|', back=.true.)
    buf = ' '
    if (j > i + 1) buf = line(i+1:j-1)
    select case (typ)
    case ('R')
      a = -9; b = -9; c = -9
      read(buf(1:max(j-i-1,1)), *, iostat=ios) a, b, c
      write(*, '(I0,3(1X,I0))') ios, transfer(a, 0), transfer(b, 0), transfer(c, 0)
    case ('D')
      x = -9; y = -9; z = -9
      read(buf(1:max(j-i-1,1)), *, iostat=ios) x, y, z
      write(*, '(I0,3(1X,I0))') ios, transfer(x, 0_8), transfer(y, 0_8), transfer(z, 0_8)
    case ('M')
      n = -9; a = -9; s = '-'
      read(buf(1:max(j-i-1,1)), *, iostat=ios) n, a, s
      write(*, '(I0,1X,I0,1X,I0,1X,"|",A,"|")') ios, n, transfer(a, 0), trim(s)
    case ('L')
      l = .true.; n = -9
      read(buf(1:max(j-i-1,1)), *, iostat=ios) l, n
      write(*, '(I0,1X,L1,1X,I0)') ios, l, n
    end select
  end do
end program
