! Writes one field per driver line, as gfortran writes it.
! Driver line: kind (I1), blank, format body (A40), blank, bit pattern (I20).
! "*" as the format body means list-directed output of the value alone.
program out_ref
  implicit none
  character(len=200) :: line
  character(len=40) :: body
  integer :: kind, ios
  integer(8) :: bits
  integer(4) :: bits4
  real(4) :: x
  real(8) :: d
  do
    read(*, '(A)', iostat=ios) line
    if (ios /= 0) exit
    read(line, '(I1,1X,A40,1X,I20)') kind, body, bits
    if (kind == 4) then
      bits4 = int(bits, 4)
      x = transfer(bits4, x)
      if (trim(body) == '*') then
        write(*, *) x
      else
        write(*, '("|",' // trim(body) // ',"|")') x
      end if
    else
      d = transfer(bits, d)
      if (trim(body) == '*') then
        write(*, *) d
      else
        write(*, '("|",' // trim(body) // ',"|")') d
      end if
    end if
  end do
end program
